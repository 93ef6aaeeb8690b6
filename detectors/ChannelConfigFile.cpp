#include "detectors/ChannelConfigFile.h"

#include "detectors/Archive.h"
#include "detectors/ChannelConfig.h"
#include "settings/DataRoot.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A real record is a title and 28 bytes; anything this large is not one, and the cap keeps a
// stray big file from being read into memory.
constexpr size_t kMaxFileSize = 1024 * 1024;
constexpr size_t kStemLength = 6;

std::string SystemReason(int error) {
    return std::generic_category().message(error);
}

// Owns a POSIX file descriptor.
class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : m_fd(fd) {}
    ~UniqueFd() { Close(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return m_fd; }
    // Returns 0 or the errno of close(), which may report a failed delayed write.
    int Close() {
        int error = 0;
        if (m_fd >= 0 && ::close(m_fd) != 0)
            error = errno;
        m_fd = -1;
        return error;
    }

private:
    int m_fd;
};

// The temporary file of a save: removed again unless it was renamed into place.
class TempFile {
public:
    explicit TempFile(std::string pattern)
        : m_path(std::move(pattern)), m_fd(::mkstemp(m_path.data())) {
        if (m_fd.Get() < 0)
            m_path.clear();
    }
    ~TempFile() {
        m_fd.Close();
        if (!m_path.empty())
            ::unlink(m_path.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    bool IsOpen() const { return m_fd.Get() >= 0; }
    int Fd() const { return m_fd.Get(); }
    const std::string& Path() const { return m_path; }
    int Close() { return m_fd.Close(); }
    void Kept() { m_path.clear(); }

private:
    std::string m_path;
    UniqueFd m_fd;
};

bool IsUnsafeInFileName(unsigned char c) {
    return c < 0x20 || c >= 0x7F || std::strchr("/\\<>:\"|?*", c) != nullptr;
}

bool IsReservedDeviceName(const std::string& stem) {
    std::string upper;
    for (unsigned char c : stem)
        upper += static_cast<char>(std::toupper(c));
    if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL" || upper == "CONIN$")
        return true;
    return upper.size() == 4 &&
           (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0) &&
           upper[3] >= '1' && upper[3] <= '9';
}

// Reads the whole file into `bytes`, at most kMaxFileSize bytes. Returns 0 or the errno; ENOENT and
// ENOTDIR mean there is no file. O_NONBLOCK: a FIFO in its place must not hang the open.
int ReadSmallFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& reason) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.Get() < 0)
        return errno;
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0)
        return errno;
    if (!S_ISREG(info.st_mode)) {
        reason = "it is not a regular file";
        return EINVAL;
    }
    // Read one byte beyond the cap so that a file that grew after fstat is still caught.
    bytes.clear();
    uint8_t chunk[4096];
    for (;;) {
        const ssize_t got = ::read(fd.Get(), chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (got == 0)
            break;
        bytes.insert(bytes.end(), chunk, chunk + got);
        if (bytes.size() > kMaxFileSize) {
            reason = "the file is larger than 1 MiB, far more than any configuration record";
            return EFBIG;
        }
    }
    return 0;
}

int WriteAll(int fd, const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        done += static_cast<size_t>(put);
    }
    return 0;
}

// Makes the rename itself durable; a failure here loses nothing, so it is not reported.
void SyncFolder(const std::string& folder) {
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Get() >= 0)
        ::fsync(fd.Get());
}

} // namespace

std::string ConfigFileStem(const std::string& serial) {
    std::string stem = serial.substr(0, kStemLength);
    for (char& c : stem)
        if (IsUnsafeInFileName(static_cast<unsigned char>(c)))
            c = '_';
    // No ".." may survive, and "." alone would name the folder itself.
    for (size_t at = stem.find(".."); at != std::string::npos; at = stem.find("..", at + 2))
        stem.replace(at, 2, "__");
    if (stem == ".")
        stem = "_";
    if (IsReservedDeviceName(stem))
        stem.insert(0, "_");
    return stem;
}

namespace {

std::string& ConfigFolderOverride() {
    static std::string folder;
    return folder;
}

} // namespace

void UseConfigFolder(const std::string& folder) {
    ConfigFolderOverride() = folder;
}

std::string ConfigFolder() {
    if (!ConfigFolderOverride().empty())
        return ConfigFolderOverride();
    return (fs::path(DataRoot()) / "Kelvarin").string();
}

std::string ConfigFilePath(const std::string& serial) {
    if (serial.empty())
        return std::string();
    return (fs::path(ConfigFolder()) / (ConfigFileStem(serial) + ".dat")).string();
}

ConfigLoad LoadChannelConfigFile(const std::string& serial, CChannelConfig& config,
                                 std::string& error) {
    // Without a serial number there is no file to look for.
    const std::string path = ConfigFilePath(serial);
    if (path.empty())
        return ConfigLoad::Missing;

    std::vector<uint8_t> bytes;
    std::string reason;
    const int readError = ReadSmallFile(path, bytes, reason);
    if (readError == ENOENT || readError == ENOTDIR)
        return ConfigLoad::Missing;
    if (readError == 0) {
        // Old files may carry bytes after the record; they are ignored.
        CArchiveReader reader(bytes.data(), bytes.size());
        if (config.Serialize(reader))
            return ConfigLoad::Loaded;
        reason = reader.Error();
    } else if (reason.empty()) {
        reason = "cannot read it: " + SystemReason(readError);
    }
    error = "Damaged detector configuration file " + path + ": " + reason;
    return ConfigLoad::Damaged;
}

bool SaveChannelConfigFile(const std::string& serial, const CChannelConfig& config,
                           std::string& error) {
    if (serial.empty()) {
        error = "Cannot save the detector configuration: the meter reported no serial number";
        return false;
    }
    const std::string folder = ConfigFolder();
    const std::string path = ConfigFilePath(serial);
    auto fail = [&](const std::string& step, int errnum) {
        error = "Cannot save detector configuration file " + path + ": " + step + ": " +
                SystemReason(errnum);
        return false;
    };

    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        error = "Cannot save detector configuration file " + path + ": cannot create folder " +
                folder + ": " + ec.message();
        return false;
    }

    CArchiveWriter writer;
    config.Serialize(writer);

    // Each step keeps its errno before building the message, which may itself change errno.
    TempFile temp(path + ".tmp-XXXXXX");
    int e = 0;
    if (!temp.IsOpen()) {
        e = errno;
        return fail("cannot create a temporary file in " + folder, e);
    }
    // mkstemp makes the file private; keep the permissions of the file it replaces, or the usual
    // ones for a new file.
    struct stat old {};
    // Only a regular file lends its permissions: a link to a device would make the record
    // world-writable.
    const mode_t mode =
        ::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode) ? (old.st_mode & 0777) : 0644;
    if (::fchmod(temp.Fd(), mode) != 0) {
        e = errno;
        return fail("cannot set the permissions of " + temp.Path(), e);
    }
    if ((e = WriteAll(temp.Fd(), writer.Bytes())) != 0)
        return fail("cannot write " + temp.Path(), e);
    if (::fsync(temp.Fd()) != 0) {
        e = errno;
        return fail("cannot flush " + temp.Path(), e);
    }
    if ((e = temp.Close()) != 0)
        return fail("cannot close " + temp.Path(), e);
    if (::rename(temp.Path().c_str(), path.c_str()) != 0) {
        e = errno;
        return fail("cannot replace the file", e);
    }
    temp.Kept();
    SyncFolder(folder);
    return true;
}

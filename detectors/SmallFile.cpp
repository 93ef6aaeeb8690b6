#include "detectors/SmallFile.h"

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Far more than any record kept per head; the cap keeps a stray big file from being read into
// memory.
constexpr size_t kMaxFileSize = 1024 * 1024;

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

std::string SystemReason(int error) {
    return std::generic_category().message(error);
}

// O_NONBLOCK: a FIFO in its place must not hang the open.
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

SmallFileRead ReadSmallFileOrSay(const std::string& path, std::vector<uint8_t>& bytes,
                                 std::string& reason) {
    const int error = ReadSmallFile(path, bytes, reason);
    if (error == ENOENT || error == ENOTDIR)
        return SmallFileRead::Missing;
    if (error == 0)
        return SmallFileRead::Read;
    if (reason.empty())
        reason = "cannot read it: " + SystemReason(error);
    return SmallFileRead::Failed;
}

bool SaveSmallFile(const std::string& folder, const std::string& path,
                   const std::vector<uint8_t>& bytes, std::string& reason) {
    auto fail = [&](const std::string& step, int errnum) {
        reason = step + ": " + SystemReason(errnum);
        return false;
    };
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        reason = "cannot create folder " + folder + ": " + ec.message();
        return false;
    }

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
    if ((e = WriteAll(temp.Fd(), bytes)) != 0)
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

#include "detectors/ChannelConfigFile.h"

#include "detectors/Archive.h"
#include "detectors/ChannelConfig.h"
#include "detectors/SmallFile.h"
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

constexpr size_t kStemLength = 6;

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
    const SmallFileRead read = ReadSmallFileOrSay(path, bytes, reason);
    if (read == SmallFileRead::Missing)
        return ConfigLoad::Missing;
    if (read == SmallFileRead::Read) {
        // Old files may carry bytes after the record; they are ignored.
        CArchiveReader reader(bytes.data(), bytes.size());
        if (config.Serialize(reader))
            return ConfigLoad::Loaded;
        reason = reader.Error();
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
    const std::string path = ConfigFilePath(serial);
    CArchiveWriter writer;
    config.Serialize(writer);
    std::string reason;
    if (SaveSmallFile(ConfigFolder(), path, writer.Bytes(), reason))
        return true;
    error = "Cannot save detector configuration file " + path + ": " + reason;
    return false;
}

#include "detectors/DisplayAidsFile.h"

#include "detectors/SmallFile.h"

#include <filesystem>

std::string DisplayAidsFilePath(const std::string& serial) {
    if (serial.empty())
        return std::string();
    return (std::filesystem::path(ConfigFolder()) / (ConfigFileStem(serial) + ".aids")).string();
}

ConfigLoad LoadDisplayAidsFile(const std::string& serial, CDisplayAids& aids, std::string& error) {
    const std::string path = DisplayAidsFilePath(serial);
    if (path.empty())
        return ConfigLoad::Missing;
    std::vector<uint8_t> bytes;
    std::string reason;
    const SmallFileRead read = ReadSmallFileOrSay(path, bytes, reason);
    if (read == SmallFileRead::Missing)
        return ConfigLoad::Missing;
    if (read == SmallFileRead::Read) {
        const std::string text(bytes.begin(), bytes.end());
        if (text.find('\0') == std::string::npos && ParseDisplayAids(text, aids, reason))
            return ConfigLoad::Loaded;
        if (reason.empty())
            reason = "it holds a zero byte: not a text file";
    }
    error = "Damaged zero and reference file " + path + ": " + reason;
    return ConfigLoad::Damaged;
}

bool SaveDisplayAidsFile(const std::string& serial, const CDisplayAids& aids, std::string& error) {
    if (serial.empty()) {
        error = "Cannot save the zero and reference: the meter reported no serial number";
        return false;
    }
    const std::string path = DisplayAidsFilePath(serial);
    const std::string text = FormatDisplayAids(aids);
    std::string reason;
    if (SaveSmallFile(ConfigFolder(), path, std::vector<uint8_t>(text.begin(), text.end()), reason))
        return true;
    error = "Cannot save zero and reference file " + path + ": " + reason;
    return false;
}

// Catalogue of bad stored configuration files: what loading does with each (Loaded, Missing or
// Damaged with the reason; a record that is not loaded stays exactly as it was) and whether a save
// then replaces it. The rows:
//   empty file, 1 byte, numbers cut short    Damaged: the data ends early; the save replaces it
//   title length beyond the file             Damaged with both lengths; the save replaces it
//   wide (UTF-16) string marker              Damaged; the save replaces it
//   a folder in place of the file            Damaged: not a regular file; the save fails
//   a FIFO in place of the file              Damaged at once, without waiting for a writer;
//                                            the save replaces it
//   a link to an endless device              Damaged without reading it; the save replaces the
//                                            link and writes nothing to the device
//   a link to nothing                        Missing; the save replaces the link
//   2 MiB, or a whole record then 2 MiB      Damaged: larger than 1 MiB; the save replaces it
//   NaN and infinite numbers                 Damaged: every reading would become "nan"
//   the folder's path is a file              Missing; the save fails
// Serial numbers from bad identification replies each name a file inside the folder.

#include "detectors/Archive.h"
#include "detectors/ChannelConfig.h"
#include "detectors/ChannelConfigFile.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <limits>

#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

std::string Encode(const CChannelConfig& config) {
    CArchiveWriter writer;
    config.Serialize(writer);
    return std::string(writer.Bytes().begin(), writer.Bytes().end());
}

struct Row {
    const char* what;
    std::function<void(const std::string& path)> make;
    ConfigLoad load;
    std::string reason; // start of the reason after the path; for Loaded, the record expected
    bool saved;
};

TEST(BadConfigFile, EachBadFileLoadsAsListedAndOnlyGoodSavesReplaceIt) {
    TempHome home;
    CChannelConfig before, odd;
    before.m_strTitle = "keep";
    odd.m_fGain = std::numeric_limits<float>::quiet_NaN();
    odd.m_fOffset = -std::numeric_limits<float>::infinity();
    const std::string good = Encode(before), mib2(2 << 20, 'x');
    const auto bytes = [](std::string text) {
        return [text](const std::string& p) { std::ofstream(p, std::ios::binary) << text; };
    };
    const auto link = [](std::string to) {
        return [to](const std::string& p) { fs::create_symlink(to.empty() ? p + ".gone" : to, p); };
    };
    const auto folderIsFile = [](const std::string&) {
        fs::remove(ConfigFolder());
        std::ofstream(ConfigFolder()) << "x";
    };
    const auto D = ConfigLoad::Damaged, M = ConfigLoad::Missing;
    const std::string ends = "the data ends before the end", notFile = "it is not a regular file";
    const Row rows[] = {
        {"empty file", bytes(""), D, ends, true},
        {"1 byte", bytes("\x05"), D, "the text length 5 is larger than the 0 bytes", true},
        {"numbers cut short", bytes(good.substr(0, good.size() - 1)), D, ends, true},
        {"title beyond", bytes("\xFF\xFD\xFF\x61"), D, "the text length 65533 is larger", true},
        {"wide", bytes("\xFF\xFE\xFF\x01\x61\0"s + good.substr(5)), D, "the text is stored as",
         true},
        {"folder", [](const std::string& p) { fs::create_directory(p); }, D, notFile, false},
        {"FIFO", [](const std::string& p) { ::mkfifo(p.c_str(), 0644); }, D, notFile, true},
        {"link to /dev/zero", link("/dev/zero"), D, notFile, true},
        {"link to nothing", link(""), M, "", true},
        {"2 MiB", bytes(mib2), D, "the file is larger than 1 MiB", true},
        {"record, then 2 MiB", bytes(good + mib2), D, "the file is larger than 1 MiB", true},
        {"NaN and infinity", bytes(Encode(odd)), D, "a gain, offset or level is not a finite",
         true},
        {"folder is a file", folderIsFile, M, "", false},
    };
    const std::string path = ConfigFilePath("KV2401");
    for (const Row& row : rows) {
        fs::remove_all(ConfigFolder());
        fs::create_directory(ConfigFolder());
        row.make(path);
        CChannelConfig config = before;
        std::string error;
        ASSERT_EQ(LoadChannelConfigFile("KV2401", config, error), row.load) << row.what;
        if (row.load == D) {
            EXPECT_EQ(
                error.rfind("Damaged detector configuration file " + path + ": " + row.reason, 0),
                0u)
                << error;
        }
        EXPECT_EQ(Encode(config), row.load == ConfigLoad::Loaded ? row.reason : good) << row.what;

        EXPECT_EQ(SaveChannelConfigFile("KV2401", config, error), row.saved) << row.what;
        if (fs::is_directory(ConfigFolder())) { // and no temporary file left behind
            EXPECT_EQ(std::distance(fs::directory_iterator(ConfigFolder()), {}), 1) << row.what;
        }
        CChannelConfig reloaded;
        if (row.saved) {
            EXPECT_EQ(LoadChannelConfigFile("KV2401", reloaded, error), ConfigLoad::Loaded);
            EXPECT_EQ(Encode(reloaded), Encode(config)) << row.what;
        }
    }
    fs::remove_all(ConfigFolder());

    // Serial numbers as bad identification replies leave them (tests/link/BadIdentificationTest).
    const std::pair<std::string, std::string> serials[] = {{" \t\r\n \r\n", " ___ _"},
                                                           {"\x01\xFF\x80K\x7F", "___K_"},
                                                           {"KV\r\n24\t01\r\n", "KV__24"},
                                                           {"4E-03\r\n5.6", "4E-03_"},
                                                           {"/..", "___"}};
    for (const auto& [serial, stem] : serials) {
        EXPECT_EQ(ConfigFilePath(serial), ConfigFolder() + "/" + stem + ".dat");
        std::string error;
        EXPECT_TRUE(SaveChannelConfigFile(serial, before, error)) << error;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(ConfigFolder()), {}), 5);
}

} // namespace

#include "detectors/ChannelConfigFile.h"
#include "detectors/ChannelConfig.h"
#include "support/ReadFile.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>

#include <sys/resource.h>

namespace fs = std::filesystem;
using namespace std::string_literals;

static void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST(ChannelConfigFile, NamesTheFileAfterASafeStemOfTheSerial) {
    TempHome home;
    EXPECT_EQ(ConfigFilePath("KV2401-0099"), home.Path() + "/Kelvarin/KV2401.dat");
    EXPECT_EQ(ConfigFilePath("A-7"), home.Path() + "/Kelvarin/A-7.dat");
    EXPECT_EQ(ConfigFilePath(""), "");
    EXPECT_EQ(ConfigFileStem("../../x"), "______");
    EXPECT_EQ(ConfigFileStem("."), "_");
    EXPECT_EQ(ConfigFileStem("con") + ConfigFileStem("LPT9") + ConfigFileStem("COM10"),
              "_con_LPT9COM10");
    for (const std::string& serial : {"a/b"s, ".."s, "...x"s, "a\\b"s, "\x01\n\x7F"s, "\0ab"s,
                                      "\xC3\xA9t\xE9"s, "a<b>:\"|?*"s}) {
        const fs::path path = ConfigFilePath(serial);
        EXPECT_EQ(path.parent_path(), fs::path(ConfigFolder())) << serial;
        const std::string name = path.filename().string();
        EXPECT_EQ(name.find(".."), std::string::npos) << serial;
        for (unsigned char c : name)
            EXPECT_TRUE(isalnum(c) || c == '_' || c == '.') << serial;
    }
}

TEST(ChannelConfigFile, SavesLoadsAndReportsDamageWithThePath) {
    TempHome home;
    CChannelConfig config;
    std::string error;
    EXPECT_EQ(LoadChannelConfigFile("KV2401", config, error), ConfigLoad::Missing);
    EXPECT_FALSE(SaveChannelConfigFile("", config, error));
    ASSERT_TRUE(SaveChannelConfigFile("KV2401", config, error)) << error;
    config.m_strTitle = "second";
    ASSERT_TRUE(SaveChannelConfigFile("KV2401", config, error)) << error;
    const std::string path = ConfigFilePath("KV2401");
    WriteFile(path, ReadFile(path) + "tail"); // old files may carry trailing bytes
    CChannelConfig loaded;
    ASSERT_EQ(LoadChannelConfigFile("KV2401", loaded, error), ConfigLoad::Loaded);
    EXPECT_EQ(loaded.m_strTitle, "second");
    EXPECT_EQ(std::distance(fs::directory_iterator(ConfigFolder()), {}), 1); // no temporaries

    const std::pair<std::string, std::string> damaged[] = {
        {ReadFile(path).substr(0, 20), "the data ends before the end of the record"},
        {std::string(1024 * 1024 + 1, '\0'), "the file is larger than 1 MiB"}};
    for (const auto& [bytes, reason] : damaged) {
        WriteFile(path, bytes);
        EXPECT_EQ(LoadChannelConfigFile("KV2401", loaded, error), ConfigLoad::Damaged);
        EXPECT_EQ(error.rfind("Damaged detector configuration file " + path + ": " + reason, 0), 0u)
            << error;
        EXPECT_EQ(loaded.m_strTitle, "second");
    }
}

TEST(ChannelConfigFile, FailedSaveIsReportedAndKeepsTheOldFile) {
    TempHome home;
    CChannelConfig config;
    std::string error;
    ASSERT_TRUE(SaveChannelConfigFile("KV2401", config, error)) << error;
    const std::string path = ConfigFilePath("KV2401");
    const std::string good = ReadFile(path);

    // A file size limit makes the write fail; permissions would not stop root.
    rlimit normal{};
    getrlimit(RLIMIT_FSIZE, &normal);
    rlimit small = normal;
    small.rlim_cur = 100;
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    config.m_strTitle = std::string(500, 't');
    const bool saved = SaveChannelConfigFile("KV2401", config, error);
    setrlimit(RLIMIT_FSIZE, &normal);
    std::signal(SIGXFSZ, handler);
    EXPECT_FALSE(saved);
    EXPECT_NE(error.find(path + ": cannot write"), std::string::npos) << error;
    EXPECT_EQ(ReadFile(path), good);
    EXPECT_EQ(std::distance(fs::directory_iterator(ConfigFolder()), {}), 1);

    fs::remove_all(ConfigFolder());
    WriteFile(ConfigFolder(), "not a folder");
    EXPECT_FALSE(SaveChannelConfigFile("KV2401", config, error));
    EXPECT_NE(error.find("cannot create folder " + ConfigFolder()), std::string::npos) << error;
}

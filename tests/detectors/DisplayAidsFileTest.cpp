// A head's zero, unit and reference: the file beside its record, what `config set` takes, and
// the reference power dB and % are read against.

#include "detectors/DisplayAidsFile.h"
#include "detectors/ChannelConfig.h"
#include "detectors/ChannelConfigFile.h"
#include "support/ReadFile.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

CDisplayAids Aids(const std::string& text) {
    CDisplayAids aids;
    std::string error;
    EXPECT_TRUE(ParseDisplayAids(text, aids, error)) << error;
    return aids;
}

} // namespace

TEST(DisplayAidsFile, KeptBesideTheRecordWhichStaysByteForByte) {
    TempHome home;
    CChannelConfig config;
    config.m_strTitle = "Amplifier";
    std::string error;
    ASSERT_TRUE(SaveChannelConfigFile("KV2401-7", config, error)) << error;
    const std::string record = ReadFile(ConfigFilePath("KV2401-7"));

    CDisplayAids aids;
    EXPECT_EQ(LoadDisplayAidsFile("KV2401-7", aids, error), ConfigLoad::Missing);
    aids.m_fZero = 1.25e-5f;
    aids.m_unit = DisplayUnit::Dbm;
    aids.m_reference = CDisplayAids::Reference::Position;
    aids.m_nReferencePosition = 2;
    ASSERT_TRUE(SaveDisplayAidsFile("KV2401-7", aids, error)) << error;
    EXPECT_EQ(DisplayAidsFilePath("KV2401-7"), home.Path() + "/Kelvarin/KV2401.aids");
    EXPECT_EQ(ReadFile(DisplayAidsFilePath("KV2401-7")),
              "zero=1.25e-05\nunit=dBm\nreference=position 3\n");
    EXPECT_EQ(ReadFile(ConfigFilePath("KV2401-7")), record);

    CDisplayAids loaded;
    ASSERT_EQ(LoadDisplayAidsFile("KV2401-7", loaded, error), ConfigLoad::Loaded) << error;
    EXPECT_EQ(loaded, aids);
    EXPECT_FALSE(SaveDisplayAidsFile("", aids, error));
}

TEST(DisplayAidsFile, ADamagedFileIsToldWithItsLineAndLeavesTheDefaults) {
    TempHome home;
    CDisplayAids aids;
    std::string error;
    ASSERT_TRUE(SaveDisplayAidsFile("KV9", aids, error)) << error;
    const std::string path = DisplayAidsFilePath("KV9");
    const std::pair<std::string, std::string> damaged[] = {
        {"zero=0\nunit=dbm\n", "line 2: unit must be W, dBm, dB or %, not \"dbm\""},
        {"# hand-edited\r\n\r\nzero=nan\n", "line 3: zero must be a number of watts"},
        {"zero=1e-6 \n", "line 1: zero must be a number of watts"},
        {"reference=0\n", "line 1: reference must be a power above 0 W"},
        {"reference=position 9\n", "line 1: reference must be a power above 0 W"},
        {"gain=2\n", "line 1: unknown setting \"gain\""},
        {"unit\n", "line 1: no KEY=VALUE"},
        {std::string("unit=W\0", 7), "it holds a zero byte"},
    };
    for (const auto& [text, reason] : damaged) {
        WriteFile(path, text);
        CDisplayAids kept;
        kept.m_unit = DisplayUnit::Percent;
        ASSERT_EQ(LoadDisplayAidsFile("KV9", kept, error), ConfigLoad::Damaged) << text;
        EXPECT_NE(error.find("Damaged zero and reference file " + path + ": " + reason),
                  std::string::npos)
            << error;
        EXPECT_EQ(kept.m_unit, DisplayUnit::Percent) << "left as it was";
    }
    // What a user may well write by hand is read.
    const CDisplayAids read = Aids("# bench 2\r\nzero=+2E-6\r\nunit=%\r\nreference=0.001\r\n");
    EXPECT_FLOAT_EQ(read.m_fZero, 2e-6f);
    EXPECT_EQ(read.m_unit, DisplayUnit::Percent);
    EXPECT_EQ(read.m_reference, CDisplayAids::Reference::Value);
    EXPECT_DOUBLE_EQ(read.m_fReferenceWatts, 1e-3);
}

TEST(DisplayAids, TheReferenceIsTheKeptPowerOrTheLiveReadingOfItsPosition) {
    const LiveReading live = [](int position, float& watts) {
        if (position != 2)
            return false; // no meter there, or none read yet
        watts = 4e-3f;
        return true;
    };
    EXPECT_DOUBLE_EQ(ReferencePower(Aids("reference=0.002\n"), live), 0.002);
    EXPECT_FLOAT_EQ(static_cast<float>(ReferencePower(Aids("reference=position 3\n"), live)),
                    4e-3f);
    EXPECT_EQ(ReferencePower(Aids("reference=position 4\n"), live), 0.0) << "shown as ---";
    EXPECT_EQ(ReferencePower(Aids("reference=none\n"), live), 0.0);
    EXPECT_EQ(ReferencePower(Aids("reference=position 3\n"), LiveReading()), 0.0);

    // `config set` takes the same texts; the kind changed leaves nothing of the other.
    CDisplayAids aids = Aids("reference=position 3\n");
    std::string error;
    ASSERT_TRUE(SetDisplayAid(aids, "reference", "5e-4", error));
    EXPECT_EQ(DisplayAidValue(aids, "reference"), "5e-04");
    EXPECT_EQ(aids.m_nReferencePosition, -1);
    EXPECT_FALSE(SetDisplayAid(aids, "reference", "-5e-4", error));
    EXPECT_FALSE(SetDisplayAid(aids, "zero", "1e39", error)) << "beyond a float";
    ASSERT_TRUE(SetDisplayAid(aids, "zero", "0", error));
    EXPECT_FALSE(aids.HasZero());
}

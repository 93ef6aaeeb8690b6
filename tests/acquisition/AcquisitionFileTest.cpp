#include "acquisition/AcquisitionFile.h"
#include "support/CommaLocale.h"
#include "support/LocalTime.h"
#include "support/ReadFile.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <csignal>
#include <fstream>
#include <sstream>

#include <sys/resource.h>

namespace {

// 25 March 2011, 14:05:09 local time.
std::time_t MarchTheTwentyFifth() {
    return LocalTime(2011, 3, 25, 14, 5, 9);
}

const std::string kSeparator(82, '-');

} // namespace

TEST(AcquisitionFile, NameIsPrefixYearDayMonthAndTime) {
    const std::time_t t = MarchTheTwentyFifth();
    EXPECT_EQ(AcquisitionFileName("/data/run", t), "/data/run20112503_140509.txt");
    EXPECT_EQ(AcquisitionFileName("/data/run.txt", t), "/data/run.txt20112503_140509.txt");
    EXPECT_EQ(AcquisitionFileName("", t), "20112503_140509.txt");
}

TEST(AcquisitionFile, HeaderForNoneOneTwoAndEightChannels) {
    EXPECT_EQ(AcquisitionHeader({}, false), "0\r\n\t\r\n" + kSeparator + "\r\n");
    EXPECT_EQ(AcquisitionHeader({"Seed"}, true), "1\r\n\tSeed\t\r\n" + kSeparator + "\r\n\r\n");
    // A title with a blank is written as it is, one tab-separated name.
    EXPECT_EQ(AcquisitionHeader({"Position_1", "Amp out"}, false),
              "2\r\n\tPosition_1\tAmp out\t\r\n" + kSeparator + "\r\n");
    std::vector<std::string> eight;
    std::string names = "\t";
    for (int i = 1; i <= 8; ++i) {
        eight.push_back("P" + std::to_string(i));
        names += "P" + std::to_string(i) + "\t";
    }
    EXPECT_EQ(AcquisitionHeader(eight, false), "8\r\n" + names + "\r\n" + kSeparator + "\r\n");
}

TEST(AcquisitionFile, DataLinesInAnyLocale) {
    const std::time_t t = MarchTheTwentyFifth();
    EXPECT_EQ(AcquisitionDataLine(t, {}), "25/03/2011-14:05:09\t\r\n");
    EXPECT_EQ(AcquisitionDataLine(t, {0.0123456f, 1.5e-5f}),
              "25/03/2011-14:05:09\t0.0123456\t1.5e-05\t\r\n");
    // "%g" at its edges: six digits, exponent from 1e-5 down and from 1e6 up, the sign of zero.
    const std::vector<std::pair<float, std::string>> cases = {
        {1e-5f, "1e-05"}, {1e-4f, "0.0001"},    {123456.0f, "123456"}, {1234567.0f, "1.23457e+06"},
        {-0.0f, "-0"},    {3.4e38f, "3.4e+38"}, {0.0f, "0"},           {-2.5f, "-2.5"},
        {INFINITY, "inf"}};
    for (const auto& [value, text] : cases)
        EXPECT_EQ(FormatAcquisitionReading(value), text) << value;

    CommaLocale locale;
    std::string why;
    if (!locale.Use(why))
        GTEST_SKIP() << why;
    EXPECT_EQ(AcquisitionDataLine(t, {1.5e-5f, 0.5f}), "25/03/2011-14:05:09\t1.5e-05\t0.5\t\r\n");
}

TEST(AcquisitionFileWriter, CreateFailureNamesTheFileAndTheReason) {
    TempHome home;
    CAcquisitionFileWriter writer;
    std::string error;
    const std::string path = home.Path() + "/missing/run.txt";
    EXPECT_FALSE(writer.Create(path, error));
    EXPECT_EQ(error,
              "Unable to create the acquisition file " + path + ": No such file or directory");
    EXPECT_FALSE(writer.Append("x", error));
}

// A file that may grow no further (a full disk, here a size limit on the process): the line that
// does not fit is not left half-written, and lines are written again once there is room.
TEST(AcquisitionFileWriter, AFailedLineLeavesNoHalfLine) {
    TempHome home;
    const std::string path = home.Path() + "/run.txt";
    CAcquisitionFileWriter writer;
    std::string error;
    ASSERT_TRUE(writer.Create(path, error)) << error;
    ASSERT_TRUE(writer.Append("header\r\n", error));

    std::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails instead of ending the process
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit limit = old;
    limit.rlim_cur = 20;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    EXPECT_FALSE(writer.Append("0123456789ABCDEF\r\n", error)); // 8 + 18 bytes: past 20
    EXPECT_EQ(error, "Unable to write to the acquisition file " + path + ": File too large");
    EXPECT_EQ(ReadFile(path), "header\r\n");
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);

    EXPECT_TRUE(writer.Append("line\r\n", error)) << error;
    EXPECT_EQ(ReadFile(path), "header\r\nline\r\n");
}

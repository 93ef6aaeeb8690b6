#include "link/LineBuffer.h"
#include "link/NumberText.h"
#include "support/CommaLocale.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

std::vector<float> Feed(CLineBuffer& buffer, const std::string& chunk, float gain = 1.0f,
                        float offset = 0.0f) {
    std::vector<float> values;
    buffer.Append(chunk.data(), chunk.size());
    buffer.TakeReadings(gain, offset, [&](float v) { values.push_back(v); });
    return values;
}

TEST(LineBuffer, CutsReadingsAndDropsLinesThatAreNotNumbers) {
    CLineBuffer buffer;
    EXPECT_EQ(Feed(buffer, "1.234E-03\r\n"), std::vector<float>{0.001234f});
    EXPECT_EQ(Feed(buffer, "  5.0 W\r\n2.5\r\n"), (std::vector<float>{5.0f, 2.5f}));
    EXPECT_TRUE(Feed(buffer, "ERR\r\n   \r\n").empty());
    EXPECT_EQ(buffer.Pending(), "");
    // An empty line between two readings is removed as leading white space.
    EXPECT_EQ(Feed(buffer, "1.0\r\n\r\n2.0\r\n"), (std::vector<float>{1.0f, 2.0f}));
    // Text without its delimiter waits, also when the chunk ends inside the number or the
    // delimiter.
    EXPECT_TRUE(Feed(buffer, "0.5").empty());
    EXPECT_EQ(buffer.Pending(), "0.5");
    EXPECT_TRUE(Feed(buffer, "\r").empty());
    EXPECT_EQ(Feed(buffer, "\n1.2"), std::vector<float>{0.5f});
    EXPECT_EQ(Feed(buffer, "34\r\n"), std::vector<float>{1.234f});
    // A chunk ends at its first zero byte.
    const char withZero[] = {'7', '\r', '\n', '\0', '8', '\r', '\n'};
    buffer.Append(withZero, sizeof withZero);
    std::vector<float> values;
    buffer.TakeReadings(1.0f, 0.0f, [&](float v) { values.push_back(v); });
    EXPECT_EQ(values, std::vector<float>{7.0f});
}

TEST(LineBuffer, CalibratesWithGainThenOffsetInSinglePrecision) {
    CLineBuffer buffer;
    EXPECT_EQ(Feed(buffer, "1\r\n", 2.0f, 0.5f), std::vector<float>{2.5f});
    const float gain = 1.1f, offset = 1e-7f, raw = 3.3e-3f;
    const float product = gain * raw;
    EXPECT_EQ(Feed(buffer, "3.3E-03\r\n", gain, offset), std::vector<float>{product + offset});
    EXPECT_EQ(Feed(buffer, "-2.5e+1 dBm\r\n"), std::vector<float>{-25.0f});
}

TEST(LineBuffer, NeverStallsOnLeadingDelimitersAndStaysBounded) {
    CLineBuffer buffer;
    // The very first bytes are CR LF: the buffer must not stall on them.
    EXPECT_EQ(Feed(buffer, "\r\n\r\n \t4.5\r\n"), std::vector<float>{4.5f});

    // A meter that never ends its lines: memory stays bounded and the over-long line is dropped
    // whole, so no tail of it is ever read as a number.
    const std::string reading = "1.234E-03 ";
    for (int i = 0; i < 20000; ++i) {
        EXPECT_TRUE(Feed(buffer, reading).empty());
        ASSERT_LE(buffer.Pending().size(), CLineBuffer::kMaxPending + reading.size());
    }
    EXPECT_TRUE(Feed(buffer, "567\r\n").empty()) << "the tail of the over-long line";
    EXPECT_EQ(Feed(buffer, "2.0\r\n"), std::vector<float>{2.0f});

    // The overflow may fall between the CR and the LF of the delimiter.
    CLineBuffer split;
    Feed(split, std::string(CLineBuffer::kMaxPending, '9') + "\r");
    EXPECT_TRUE(Feed(split, "\n").empty());
    EXPECT_EQ(Feed(split, "3.0\r\n"), std::vector<float>{3.0f});
}

TEST(NumberText, ScansTheDecimalFormsOfPercentF) {
    EXPECT_EQ(ScanFloatPrefix("1.234E-03"), 9u);
    EXPECT_EQ(ScanFloatPrefix("+.5x"), 3u);
    EXPECT_EQ(ScanFloatPrefix("-7."), 3u);
    EXPECT_EQ(ScanFloatPrefix("1e"), 1u);
    EXPECT_EQ(ScanFloatPrefix("1e+"), 1u);
    EXPECT_EQ(ScanFloatPrefix("2E5W"), 3u);
    EXPECT_EQ(ScanFloatPrefix("."), 0u);
    EXPECT_EQ(ScanFloatPrefix("-"), 0u);
    EXPECT_EQ(ScanFloatPrefix("nan"), 0u);
    EXPECT_EQ(ScanFloatPrefix("inf"), 0u);
    EXPECT_EQ(ScanFloatPrefix("0x1p3"), 1u);

    float v = 0;
    ASSERT_TRUE(ParseLeadingFloat("1e999", v));
    EXPECT_TRUE(std::isinf(v) && v > 0);
    ASSERT_TRUE(ParseLeadingFloat("-1e-999", v));
    EXPECT_EQ(v, 0.0f);
    EXPECT_TRUE(std::signbit(v));
    ASSERT_TRUE(ParseLeadingFloat("1e39", v));
    EXPECT_TRUE(std::isinf(v)) << "beyond float range";
    EXPECT_FALSE(ParseLeadingFloat("W 1.0", v));

    int i = 0;
    EXPECT_TRUE(ParseIntExact("+532", i));
    EXPECT_EQ(i, 532);
    EXPECT_FALSE(ParseIntExact("+-1", i));
    EXPECT_FALSE(ParseIntExact("12a", i));
    EXPECT_FALSE(ParseFloatExact("1.5 ", v));
    EXPECT_FALSE(ParseFloatExact("1e999", v)) << "user input must be finite";

    EXPECT_EQ(FormatIntWidth(1064, 5), " 1064");
    EXPECT_EQ(FormatIntWidth(100000, 5), "100000");
    EXPECT_EQ(FormatG(0.001234), "0.001234");
    EXPECT_EQ(FormatG(1234567.0), "1.23457e+06");
}

// Qt applications run in the user's locale; with a comma as decimal separator the C library would
// read "1.234E-03" as 1 and write 0.5 as "0,5". Numbers here must not care.
TEST(NumberText, IgnoresACommaDecimalLocale) {
    CommaLocale locale;
    std::string why;
    if (!locale.Use(why))
        GTEST_SKIP() << why;

    float v = 0;
    EXPECT_TRUE(ParseLeadingFloat("1.234E-03", v));
    EXPECT_EQ(v, 0.001234f);
    EXPECT_EQ(FormatG(0.5), "0.5");
    EXPECT_EQ(FormatFloatShortest(2.5f), "2.5");
    CLineBuffer buffer;
    EXPECT_EQ(Feed(buffer, "1,5\r\n2.5\r\n"), (std::vector<float>{1.0f, 2.5f}));
}

} // namespace

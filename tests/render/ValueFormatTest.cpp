#include "render/ValueFormat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

std::string Value(float value, int extraDecimals = 0) {
    std::string text;
    FormatValue(text, value, extraDecimals);
    return text;
}

std::string Percent(float value) {
    std::string text;
    FormatPercent(text, value);
    return text;
}

int IndexOf(const RangeEntry& entry) {
    return static_cast<int>(&entry - RangeTable());
}

TEST(FindRange, TakesTheFirstFullScaleStrictlyAboveTheMagnitude) {
    EXPECT_EQ(IndexOf(FindRange(0.0f, 0)), 0);
    // A value equal to a full scale belongs to the next range up, in every range.
    const RangeEntry* table = RangeTable();
    for (int i = 0; i + 1 < kRangeCount; ++i) {
        EXPECT_EQ(IndexOf(FindRange(table[i].fFullScale, 0)), i + 1) << "entry " << i;
        EXPECT_EQ(IndexOf(FindRange(-table[i].fFullScale, 0)), i + 1) << "entry " << i;
    }
    // Everything from 300 M on, infinities and NaN end on the last range.
    for (float v : {3e8f, 3.1e8f, kInf, -kInf, kNaN})
        EXPECT_EQ(IndexOf(FindRange(v, 0)), kRangeCount - 1) << v;
    // The first index skips the smallest ranges and is kept inside the table.
    EXPECT_EQ(IndexOf(FindRange(0.5f, 18)), 24);
    EXPECT_EQ(IndexOf(FindRange(0.0f, 1000)), kRangeCount - 1);
}

TEST(FormatValue, ShowsTheRangePrefixAndDecimals) {
    EXPECT_EQ(Value(0.0f), "0.000 p");
    EXPECT_EQ(Value(1.0f), "1.00 ");
    EXPECT_EQ(Value(0.999f), "0.999 ");
    EXPECT_EQ(Value(0.5f), "0.500 ");
    EXPECT_EQ(Value(0.0025f), "2.50 m");
    EXPECT_EQ(Value(2.5e-6f), "2.500 \xB5");
    EXPECT_EQ(Value(250.0f), "250 ");
    EXPECT_EQ(Value(1500.0f), "1.50 k");
    EXPECT_EQ(Value(-0.02f), "-20.0 m");
    EXPECT_EQ(Value(2.9e8f), "290 M");
    EXPECT_EQ(Value(3e8f), "300 M");
}

TEST(FormatValue, ReadsOutBeyondTheTableAndPrintsNaNAsItIs) {
    EXPECT_EQ(Value(3.1e8f), "Out");
    EXPECT_EQ(Value(-3.1e8f), "Out");
    EXPECT_EQ(Value(kInf), "Out");
    EXPECT_EQ(Value(-kInf), "Out");
    EXPECT_EQ(Value(kNaN), "nan M");
}

TEST(FormatWithRange, AddsExtraDecimalsWithinTheSixThereAreFormatsFor) {
    EXPECT_EQ(Value(0.0025f, 1), "2.500 m");
    EXPECT_EQ(Value(0.5f, 1), "0.5000 ");
    EXPECT_EQ(Value(0.5f, 3), "0.500000 ");
    EXPECT_EQ(Value(0.5f, 100), "0.500000 ");
    // A range chosen by hand: "Out" against its own full scale, else its prefix.
    const RangeEntry& milli = RangeTable()[20]; // 10 m
    std::string text;
    FormatWithRange(text, milli, 0.0105f, 0);
    EXPECT_EQ(text, "Out");
    FormatWithRange(text, milli, 2e-5f, 0);
    EXPECT_EQ(text, "0.02 m");
}

TEST(FormatNumberAndPrefix, SplitsNumberWithItsBlankFromThePrefix) {
    std::string number = "stale", prefix = "stale";
    FormatNumberAndPrefix(number, prefix, FindRange(0.0025f, 0), 0.0025f);
    EXPECT_EQ(number, "2.50 ");
    EXPECT_EQ(prefix, "m");
    FormatNumberAndPrefix(number, prefix, FindRange(5e8f, 0), 5e8f);
    EXPECT_EQ(number, "Out");
    EXPECT_EQ(prefix, "");
    FormatNumberAndPrefix(number, prefix, FindRange(0.0f, 0), 0.0f);
    EXPECT_EQ(number + prefix + "W", "0.000 pW");
}

TEST(FormatPercent, UsesFewerDecimalsAsTheValueGrows) {
    EXPECT_EQ(Percent(0.5f), "0.5000");
    EXPECT_EQ(Percent(5.0f), "5.000");
    EXPECT_EQ(Percent(42.5f), "42.50");
    EXPECT_EQ(Percent(150.0f), "150.0");
    EXPECT_EQ(Percent(1500.0f), "1500");
    EXPECT_EQ(Percent(-3.0f), "-3.0000");
    EXPECT_EQ(Percent(1.0f), "1.000");
    EXPECT_EQ(Percent(kNaN), "Out");
    EXPECT_EQ(Percent(kInf), "inf");
    EXPECT_EQ(Percent(-kInf), "-inf");
}

} // namespace

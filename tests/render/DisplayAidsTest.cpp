// The aids of a tuning bench: readings in dBm, dB and %, the tuning bar's scale from its peak,
// and the mean of the last second that "Zero" takes.

#include "render/DisplayUnit.h"
#include "render/PeakHold.h"
#include "render/RecentMean.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

TEST(DisplayUnit, DbmDbAndPercentAsAPaneShowsThem) {
    EXPECT_EQ(FormatInUnit(DisplayUnit::Dbm, 1e-3f, kNone), "0.00 dBm");
    EXPECT_EQ(FormatInUnit(DisplayUnit::Dbm, 0.5e-3f, kNone), "-3.01 dBm");
    EXPECT_EQ(FormatInUnit(DisplayUnit::Dbm, 10.0f, kNone), "40.00 dBm");
    EXPECT_EQ(FormatInUnit(DisplayUnit::Dbm, 1e-12f, kNone), "-90.00 dBm");
    EXPECT_EQ(FormatInUnit(DisplayUnit::Db, 1.1e-3f, 1e-3), "0.41 dB");
    EXPECT_EQ(FormatInUnit(DisplayUnit::Db, 0.5e-3f, 1e-3), "-3.01 dB");
    EXPECT_EQ(FormatInUnit(DisplayUnit::Db, 0.99999e-3f, 1e-3), "0.00 dB") << "no -0.00";
    EXPECT_EQ(FormatInUnit(DisplayUnit::Percent, 0.985e-3f, 1e-3), "98.50 %");
    EXPECT_EQ(FormatInUnit(DisplayUnit::Percent, 2.5e-3f, 1e-3), "250.00 %");
    EXPECT_EQ(FormatInUnit(DisplayUnit::Watt, 2.5e-3f, kNone), "2.50 mW");

    // No value: a power that is not positive, no reference (a position without a reading), a
    // reference that is not positive.
    for (float watts : {0.0f, -1e-6f, std::numeric_limits<float>::quiet_NaN()}) {
        EXPECT_EQ(FormatInUnit(DisplayUnit::Dbm, watts, kNone), "--- dBm") << watts;
        EXPECT_EQ(FormatInUnit(DisplayUnit::Db, watts, 1e-3), "--- dB") << watts;
        EXPECT_EQ(FormatInUnit(DisplayUnit::Percent, watts, 1e-3), "--- %") << watts;
    }
    for (double reference : {kNone, 0.0, -1e-3, std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(FormatInUnit(DisplayUnit::Db, 1e-3f, reference), "--- dB") << reference;
        EXPECT_EQ(FormatInUnit(DisplayUnit::Percent, 1e-3f, reference), "--- %") << reference;
    }
    EXPECT_EQ(FormatInUnit(DisplayUnit::Dbm, 1e-3f, -1.0), "0.00 dBm") << "needs no reference";

    DisplayUnit unit = DisplayUnit::Watt;
    for (const char* name : {"W", "dBm", "dB", "%"}) {
        ASSERT_TRUE(ParseDisplayUnit(name, unit)) << name;
        EXPECT_STREQ(DisplayUnitName(unit), name);
    }
    for (const char* name : {"", "dbm", "DBM", "mW", "W ", "percent"})
        EXPECT_FALSE(ParseDisplayUnit(name, unit)) << name;
}

// The bar is drawn to the full scale of the range holding the peak: it follows the peak up,
// stays when the value falls, and starts anew at Reset.
TEST(PeakHold, TheBarsScaleFollowsThePeakNotTheValue) {
    CPeakHold hold;
    EXPECT_FALSE(hold.HasPeak());
    EXPECT_FLOAT_EQ(hold.FullScale(), 1e-12f);
    hold.Add(2.5e-3f);
    EXPECT_FLOAT_EQ(hold.FullScale(), 3e-3f);
    hold.Add(0.2e-3f); // the power falls while the mirror turns
    EXPECT_EQ(hold.Peak(), 2.5e-3f);
    EXPECT_FLOAT_EQ(hold.FullScale(), 3e-3f);
    EXPECT_NEAR(hold.Fraction(0.2e-3f), 0.2 / 3, 1e-6);
    hold.Add(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(hold.Peak(), 2.5e-3f);
    hold.Add(1.0f); // equal to a full scale: the next range up
    EXPECT_FLOAT_EQ(hold.FullScale(), 3.0f);
    EXPECT_EQ(hold.Fraction(5.0f), 1.0f);
    EXPECT_EQ(hold.Fraction(-1e-3f), 0.0f);

    hold.Reset();
    hold.Add(-4e-6f); // a zeroed head's noise: the peak may be negative
    EXPECT_EQ(hold.Peak(), -4e-6f);
    EXPECT_FLOAT_EQ(hold.FullScale(), 10e-6f);
    EXPECT_EQ(hold.Fraction(-4e-6f), 0.0f);
}

TEST(RecentMean, TheMeanOfTheLastSecondOnly) {
    CRecentMean mean;
    EXPECT_FALSE(mean.Mean(0).has_value());
    mean.Add(0, 9.0f); // more than a second before the end: not in the mean
    for (int64_t ms = 500; ms <= 1500; ms += 100)
        mean.Add(ms, ms < 1000 ? 1.0f : 2.0f);
    mean.Add(1500, std::numeric_limits<float>::quiet_NaN());
    EXPECT_DOUBLE_EQ(*mean.Mean(1500), (5 * 1.0 + 6 * 2.0) / 11);
    EXPECT_FALSE(mean.Mean(5000).has_value()) << "readings of long ago are no zero";
    mean.Clear();
    EXPECT_FALSE(mean.Mean(1500).has_value());

    // Bounded whatever the rate.
    for (int64_t i = 0; i < 10000; ++i)
        mean.Add(2000, 1.0f);
    EXPECT_DOUBLE_EQ(*mean.Mean(2000), 1.0);
}

} // namespace

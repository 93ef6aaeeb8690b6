#pragma once
// Every reading shown as text goes through one table of measuring ranges in the 1-3-10 sequence,
// from 1 pW to 300 MW, so that a value always gets the prefix and the number of decimals a meter
// would use for it. The unit ("W") is appended by the caller. Numbers are printed in the "C"
// locale whatever the process locale is; the micro prefix is the single byte 0xB5.

#include <cstdint>
#include <string>

struct RangeEntry {
    float fNominal;    // 1, 3, 10, 30, 100 or 300 within the prefix
    float fMultiplier; // value of the prefix, 1e-12 to 1e6
    float fFullScale;  // fNominal * fMultiplier, rounded to float
    int32_t nDecimals;
    char szPrefix[8];
};

inline constexpr int kRangeCount = 42;

// The kRangeCount entries in ascending order of full scale; fixed at compile time.
const RangeEntry* RangeTable();

// The first range from firstIndex on whose full scale is strictly greater than |value| (a value
// equal to a full scale takes the next range up); the last range (300 M) when none is, for NaN
// and when firstIndex is the last index. firstIndex is clamped into 0..kRangeCount - 1.
const RangeEntry& FindRange(float value, int firstIndex);

// "Out" when |value| exceeds the range's full scale (NaN does not), else the value in the
// range's prefix with its decimals plus extraDecimals, one blank and the prefix ("2.50 m").
void FormatWithRange(std::string& out, const RangeEntry& range, float value, int extraDecimals);

// FindRange from the first range, then FormatWithRange.
void FormatValue(std::string& out, float value, int extraDecimals);

// The large display's parts: number "2.50 " (with its trailing blank) and prefix "m"; number
// "Out" and an empty prefix beyond the full scale.
void FormatNumberAndPrefix(std::string& number, std::string& prefix, const RangeEntry& range,
                           float value);

// A stability percentage without prefix or blank: four decimals below 1 down to none from 1000
// on; "Out" for NaN.
void FormatPercent(std::string& out, float value);

// A reading as a pane shows it in large type: number, blank, prefix and "W" (12.34 mW), or
// "OutW" beyond the measuring ranges.
std::string FormatBigValue(float value);

// printf's "%.Nf" in the "C" locale; decimals is clamped into 0..kMaxFixedDecimals.
inline constexpr int kMaxFixedDecimals = 40;
std::string FormatFixed(double value, int decimals);

// The float a channel holds, as the double that prints as the same decimal (0.00123f is
// 0.00123, not 0.0012300000526...).
double WattsAsDouble(float value);

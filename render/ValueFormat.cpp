#include "render/ValueFormat.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace {

constexpr int kPrefixCount = 7;
constexpr int kNominalCount = 6;
static_assert(kPrefixCount * kNominalCount == kRangeCount);

constexpr std::array<RangeEntry, kRangeCount> BuildRangeTable() {
    constexpr float multipliers[kPrefixCount] = {1e-12f, 1e-9f, 1e-6f, 1e-3f, 1.0f, 1e3f, 1e6f};
    constexpr char prefixes[kPrefixCount][8] = {"p", "n", "\xB5", "m", "", "k", "M"};
    constexpr float nominals[kNominalCount] = {1.0f, 3.0f, 10.0f, 30.0f, 100.0f, 300.0f};
    constexpr int32_t decimals[kNominalCount] = {3, 2, 2, 1, 1, 0};
    constexpr int kMicroBlock = 2;

    std::array<RangeEntry, kRangeCount> table{};
    for (int block = 0; block < kPrefixCount; ++block) {
        for (int step = 0; step < kNominalCount; ++step) {
            RangeEntry& entry = table[static_cast<size_t>(block * kNominalCount + step)];
            entry.fNominal = nominals[step];
            entry.fMultiplier = multipliers[block];
            entry.fFullScale = nominals[step] * multipliers[block];
            entry.nDecimals = decimals[step];
            for (int c = 0; c < 8; ++c)
                entry.szPrefix[c] = prefixes[block][c];
        }
    }
    // Meters show their 3 uW range with a third decimal; keep the display identical.
    table[kMicroBlock * kNominalCount + 1].nDecimals = 3;
    return table;
}

constexpr std::array<RangeEntry, kRangeCount> kRanges = BuildRangeTable();

constexpr bool IsStrictlyAscending(const std::array<RangeEntry, kRangeCount>& table) {
    for (size_t i = 1; i < table.size(); ++i) {
        if (!(table[i - 1].fFullScale < table[i].fFullScale))
            return false;
    }
    return true;
}
// FindRange's binary search relies on this order.
static_assert(IsStrictlyAscending(kRanges));
static_assert(kRanges.front().fFullScale == 1e-12f && kRanges.back().fFullScale == 3e8f);

// The display formats exist for 0 to 6 decimals; a larger sum of range and extra decimals (or a
// negative one) is clamped to that span instead of reading past the formats.
constexpr int kMaxTableDecimals = 6;

int TableDecimals(int32_t rangeDecimals, int extraDecimals) {
    const long long sum = static_cast<long long>(rangeDecimals) + extraDecimals;
    return static_cast<int>(std::clamp(sum, 0LL, static_cast<long long>(kMaxTableDecimals)));
}

// Room for any double printed with "%.6f": up to 309 integer digits, sign, point, decimals.
constexpr size_t kNumberBuffer = 336;

// Writes "%.Nf" of value at first; returns the end of the text.
char* WriteFixed(char* first, char* last, double value, int decimals) {
    const auto result = std::to_chars(first, last, value, std::chars_format::fixed, decimals);
    return result.ec == std::errc() ? result.ptr : first;
}

size_t PrefixLength(const RangeEntry& range) {
    return strnlen(range.szPrefix, sizeof range.szPrefix);
}

bool BeyondFullScale(const RangeEntry& range, float value) {
    return std::fabs(value) > range.fFullScale; // false for NaN
}

// Formats "<number> <prefix>" into out, reusing its storage.
void WriteNumberAndPrefix(std::string& out, double number, int decimals, const char* prefix,
                          size_t prefixLength) {
    char buffer[kNumberBuffer + 1 + sizeof RangeEntry::szPrefix];
    char* end = WriteFixed(buffer, buffer + kNumberBuffer, number, decimals);
    *end++ = ' ';
    std::memcpy(end, prefix, prefixLength);
    end += prefixLength;
    out.assign(buffer, end);
}

} // namespace

const RangeEntry* RangeTable() {
    return kRanges.data();
}

const RangeEntry& FindRange(float value, int firstIndex) {
    const int first = std::clamp(firstIndex, 0, kRangeCount - 1);
    const float magnitude = std::fabs(value);
    // The last range is the answer whenever nothing below it qualifies, so it is left out of the
    // search; a NaN is never less than a full scale and ends there too.
    const auto begin = kRanges.begin() + first;
    const auto end = kRanges.end() - 1;
    const auto found =
        std::upper_bound(begin, end, magnitude,
                         [](float a, const RangeEntry& entry) { return a < entry.fFullScale; });
    return *found;
}

void FormatWithRange(std::string& out, const RangeEntry& range, float value, int extraDecimals) {
    if (BeyondFullScale(range, value)) {
        out.assign("Out");
        return;
    }
    const double number = static_cast<double>(value) / static_cast<double>(range.fMultiplier);
    WriteNumberAndPrefix(out, number, TableDecimals(range.nDecimals, extraDecimals), range.szPrefix,
                         PrefixLength(range));
}

void FormatValue(std::string& out, float value, int extraDecimals) {
    FormatWithRange(out, FindRange(value, 0), value, extraDecimals);
}

void FormatNumberAndPrefix(std::string& number, std::string& prefix, const RangeEntry& range,
                           float value) {
    if (BeyondFullScale(range, value)) {
        number.assign("Out");
        prefix.clear();
        return;
    }
    const double scaled = static_cast<double>(value) / static_cast<double>(range.fMultiplier);
    WriteNumberAndPrefix(number, scaled, TableDecimals(range.nDecimals, 0), "", 0);
    prefix.assign(range.szPrefix, PrefixLength(range));
}

void FormatPercent(std::string& out, float value) {
    if (std::isnan(value)) {
        out.assign("Out");
        return;
    }
    int decimals = 0;
    if (value < 1.0f)
        decimals = 4;
    else if (value < 10.0f)
        decimals = 3;
    else if (value < 100.0f)
        decimals = 2;
    else if (value < 1000.0f)
        decimals = 1;
    char buffer[kNumberBuffer];
    out.assign(buffer, WriteFixed(buffer, buffer + sizeof buffer, value, decimals));
}

std::string FormatFixed(double value, int decimals) {
    const int clamped = std::clamp(decimals, 0, kMaxFixedDecimals);
    char buffer[kNumberBuffer + kMaxFixedDecimals];
    return std::string(buffer, WriteFixed(buffer, buffer + sizeof buffer, value, clamped));
}

std::string FormatBigValue(float value) {
    std::string number, prefix;
    FormatNumberAndPrefix(number, prefix, FindRange(value, 0), value);
    return number + prefix + "W";
}

double WattsAsDouble(float value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text - 1, value);
    if (end.ec != std::errc())
        return static_cast<double>(value);
    *end.ptr = '\0';
    return std::strtod(text, nullptr);
}

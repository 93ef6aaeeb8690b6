#include "link/NumberText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Power of ten of the first significant digit of an unsigned non-zero number ("123.4e5" is 7),
// clamped far beyond any double. Its sign tells overflow from underflow; the exponent alone
// does not ("0.000...1" has none, "1000...0e-9" a negative one and may still overflow).
long long DecimalPower(std::string_view number) {
    constexpr long long kClamp = 1000000000;
    const size_t e = number.find_first_of("eE");
    const std::string_view mantissa = number.substr(0, e);
    const size_t point = std::min(mantissa.find('.'), mantissa.size());
    const size_t significant = std::min(mantissa.find_first_not_of("0."), mantissa.size());
    long long power = significant < point ? static_cast<long long>(point - significant) - 1
                                          : -static_cast<long long>(significant - point);
    power = std::max(-kClamp, std::min(kClamp, power));
    if (e != std::string_view::npos) {
        size_t i = e + 1;
        const bool negative = i < number.size() && number[i] == '-';
        if (i < number.size() && (number[i] == '+' || number[i] == '-'))
            ++i;
        long long exponent = 0;
        for (; i < number.size() && IsDigit(number[i]); ++i)
            exponent = std::min(kClamp, exponent * 10 + (number[i] - '0'));
        power += negative ? -exponent : exponent;
    }
    return power;
}

} // namespace

size_t ScanFloatPrefix(std::string_view text) {
    size_t i = 0;
    const size_t n = text.size();
    if (i < n && (text[i] == '+' || text[i] == '-'))
        ++i;
    size_t digits = 0;
    while (i < n && IsDigit(text[i])) {
        ++i;
        ++digits;
    }
    if (i < n && text[i] == '.') {
        ++i;
        while (i < n && IsDigit(text[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return 0;
    // An exponent counts only when at least one digit follows it; "1e" and "1e+" end at "1".
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        if (j < n && (text[j] == '+' || text[j] == '-'))
            ++j;
        if (j < n && IsDigit(text[j])) {
            while (j < n && IsDigit(text[j]))
                ++j;
            i = j;
        }
    }
    return i;
}

bool ParseLeadingFloat(std::string_view text, float& value) {
    const size_t length = ScanFloatPrefix(text);
    if (length == 0)
        return false;
    bool negative = false;
    size_t start = 0;
    if (text[0] == '+' || text[0] == '-') {
        negative = text[0] == '-';
        start = 1;
    }
    const char* first = text.data() + start;
    const char* last = text.data() + length;
    double magnitude = 0.0;
    const auto result = std::from_chars(first, last, magnitude, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        // Overflow gives infinity and underflow zero, as the C library's conversion does.
        magnitude = DecimalPower(std::string_view(first, static_cast<size_t>(last - first))) > 0
                        ? std::numeric_limits<double>::infinity()
                        : 0.0;
    } else if (result.ec != std::errc() || result.ptr != last) {
        return false;
    }
    value = static_cast<float>(negative ? -magnitude : magnitude);
    return true;
}

bool ParseFloatExact(std::string_view text, float& value) {
    if (text.empty() || ScanFloatPrefix(text) != text.size())
        return false;
    float parsed = 0.0f;
    if (!ParseLeadingFloat(text, parsed) || !std::isfinite(parsed))
        return false;
    value = parsed;
    return true;
}

bool ParseIntExact(std::string_view text, int& value) {
    if (text.empty())
        return false;
    size_t start = 0;
    if (text[0] == '+')
        start = 1; // from_chars takes a '-' but not a '+'
    if (start == text.size() || (start == 1 && text[start] == '-'))
        return false;
    int parsed = 0;
    const char* last = text.data() + text.size();
    const auto result = std::from_chars(text.data() + start, last, parsed, 10);
    if (result.ec != std::errc() || result.ptr != last)
        return false;
    value = parsed;
    return true;
}

std::string FormatG(double value, int precision) {
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, precision);
    return std::string(buffer, result.ptr);
}

std::string FormatFloatShortest(float value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string FormatIntWidth(long long value, int width) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string digits(buffer, result.ptr);
    if (static_cast<int>(digits.size()) < width)
        digits.insert(0, static_cast<size_t>(width) - digits.size(), ' ');
    return digits;
}

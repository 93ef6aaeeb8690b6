#pragma once
// Locale-independent number scanning and printing. The process locale of a Qt application may
// use a comma as decimal separator; meters and files always use a point.

#include <cstddef>
#include <string>
#include <string_view>

// Length of the longest prefix of `text` that is a decimal floating-point number by the rules of
// the formatted-input conversion "%f": optional sign, digits with an optional decimal point (at
// least one digit), optional exponent (e or E, optional sign, at least one digit). 0 when none.
// Leading white space is not skipped; "inf", "nan" and hexadecimal forms are not numbers.
size_t ScanFloatPrefix(std::string_view text);

// Converts the leading number of `text` (as ScanFloatPrefix finds it) to a float, rounding the
// decimal value to double first as the C library's string-to-number conversion does. Values
// beyond the range of a double become +-infinity, values too small become +-0. False when the
// text does not begin with a number.
bool ParseLeadingFloat(std::string_view text, float& value);

// Strict parsers for user input: the whole text must be the number (no blanks around it).
bool ParseFloatExact(std::string_view text, float& value);
bool ParseIntExact(std::string_view text, int& value);

// "%.*g" in the "C" locale.
std::string FormatG(double value, int precision = 6);
// Shortest text that reads back to the same float.
std::string FormatFloatShortest(float value);
// printf's "%*i": right-aligned in `width` characters, blank-padded.
std::string FormatIntWidth(long long value, int width);

#include "acquisition/AcquisitionWords.h"

#include "link/LocalTime.h"
#include "link/NumberText.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// The characters that separate words, looked up rather than compared one by one.
struct BlankTable {
    bool blank[256] = {};
    constexpr BlankTable() {
        for (unsigned char c : {' ', '\t', '\n', '\r', '\v', '\f'})
            blank[c] = true;
    }
};
constexpr BlankTable kBlanks;

bool IsBlank(char c) {
    return kBlanks.blank[static_cast<unsigned char>(c)];
}

// A field of the timestamp as "%d" reads it: an optional sign, then digits.
bool ReadField(std::string_view word, size_t& at, int& value) {
    size_t i = at;
    bool negative = false;
    if (i < word.size() && (word[i] == '+' || word[i] == '-'))
        negative = word[i++] == '-';
    const size_t first = i;
    long long magnitude = 0;
    for (; i < word.size() && word[i] >= '0' && word[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (word[i] - '0');
        if (magnitude > std::numeric_limits<int>::max())
            return false;
    }
    if (i == first)
        return false;
    value = static_cast<int>(negative ? -magnitude : magnitude);
    at = i;
    return true;
}

// Fields `first` to 5 of a timestamp (day, month, year, hour, minute, second) from `at`, each
// after its separator but the first one read; then the ranges of all six. `hourEnd` is where
// the hour ends.
bool ReadFields(std::string_view word, size_t& at, int first, int (&fields)[6], size_t& hourEnd) {
    static constexpr char kSeparators[5] = {'/', '/', '-', ':', ':'};
    for (int i = first; i < 6; ++i) {
        if (i > first) {
            if (at >= word.size() || word[at] != kSeparators[i - 1])
                return false;
            ++at;
        }
        if (!ReadField(word, at, fields[i]))
            return false;
        if (i == 3)
            hourEnd = at;
    }
    const int day = fields[0], month = fields[1], year = fields[2];
    const int hour = fields[3], minute = fields[4], second = fields[5];
    return year >= 1900 && month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour >= 0 &&
           hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59;
}

// The number at the start of `text` by the grammar of ScanFloatPrefix, and the float nearest
// to it, the quick way and in one pass: with at most 19 significant digits and a power of ten up
// to 22, the mantissa and the power are exact doubles and one division or product gives the
// double nearest to the decimal; rounding that to float gives the float nearest to the decimal
// unless the double fell exactly half-way between two floats. Returns the length of the number
// (0: none); `exact` false when the quick way cannot decide and from_chars must.
size_t QuickDecimal(std::string_view text, float& value, bool& exact) {
    static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                         1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                         1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const size_t n = text.size();
    size_t i = 0;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    uint64_t mantissa = 0;
    int digits = 0;      // all digits seen
    int significant = 0; // digits in the mantissa, leading zeros left out
    int exponent = 0;    // power of ten of the mantissa's last digit
    for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
        if (mantissa == 0 && text[i] == '0')
            continue;
        if (++significant <= 19)
            mantissa = mantissa * 10 + static_cast<uint64_t>(text[i] - '0');
        else
            ++exponent;
    }
    if (i < n && text[i] == '.') {
        ++i;
        for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
            if (mantissa == 0 && text[i] == '0') {
                --exponent;
                continue;
            }
            if (++significant <= 19) {
                mantissa = mantissa * 10 + static_cast<uint64_t>(text[i] - '0');
                --exponent;
            }
        }
    }
    if (digits == 0)
        return 0;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        bool down = false;
        if (j < n && (text[j] == '+' || text[j] == '-'))
            down = text[j++] == '-';
        if (j < n && text[j] >= '0' && text[j] <= '9') {
            int e = 0;
            for (; j < n && text[j] >= '0' && text[j] <= '9'; ++j)
                e = std::min(e * 10 + (text[j] - '0'), 100000);
            exponent += down ? -e : e;
            i = j;
        }
    }
    exact = false;
    if (mantissa == 0) {
        value = negative ? -0.0f : 0.0f;
        exact = true;
    } else if (significant <= 19 && exponent >= -22 && exponent <= 22) {
        double d = static_cast<double>(mantissa);
        d = exponent < 0 ? d / kPowers[-exponent] : d * kPowers[exponent];
        uint64_t bits = 0;
        std::memcpy(&bits, &d, sizeof bits);
        const bool halfWay = (bits & ((uint64_t{1} << 29) - 1)) == (uint64_t{1} << 28);
        if (d >= static_cast<double>(FLT_MIN) && d <= static_cast<double>(FLT_MAX) && !halfWay &&
            mantissa <= (uint64_t{1} << 53)) {
            value = static_cast<float>(negative ? -d : d);
            exact = true;
        }
    }
    return i;
}

// The usual reading the quickest way: eight characters at a time, without a branch per digit.
// Needs kQuickReadable bytes readable from `p`. Takes [sign] digits [. digits] [e [sign] digits]
// with at most 19 digits and 3 of exponent, the same mantissa and power as QuickDecimal, and
// returns its length; 0 when QuickDecimal must read it (another form, or one it cannot decide).
constexpr size_t kQuickReadable = 64;

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
// Digits at the start of p, at most 16 (-1: more), appended to `mantissa`. Inlined, so that the
// mantissa stays in a register.
[[gnu::always_inline]] inline int DigitRun(const char* p, uint64_t& mantissa) {
    int count = 0;
    for (int round = 0; round < 2; ++round) {
        uint64_t word = 0;
        std::memcpy(&word, p + count, sizeof word);
        word ^= 0x3030303030303030u; // a digit becomes 0 to 9
        // The high bit of a byte that is not a digit (9 < byte); a carry only reaches the bytes
        // after such a one, which do not count.
        const uint64_t other = ((word + 0x7676767676767676u) | word) & 0x8080808080808080u;
        const int run = other != 0 ? __builtin_ctzll(other) / 8 : 8;
        if (run == 0)
            return count;
        // The run's digits to the top, zeros before them, then pairs, fours and eights.
        uint64_t digits = word << (8 * (8 - run));
        digits = digits * 10 + (digits >> 8);
        digits = (((digits & 0x000000FF000000FFu) * (100 + (1000000ull << 32))) +
                  (((digits >> 16) & 0x000000FF000000FFu) * (1 + (10000ull << 32)))) >>
                 32;
        static constexpr uint64_t kScale[] = {1,      10,      100,      1000,     10000,
                                              100000, 1000000, 10000000, 100000000};
        mantissa = mantissa * kScale[run] + digits;
        count += run;
        if (run < 8)
            return count;
    }
    return static_cast<unsigned char>(p[count] - '0') < 10 ? -1 : count;
}

[[gnu::always_inline]] inline size_t QuickestDecimal(const char* p, float& value) {
    // 1e-22 to 1e22; those below 1 are the nearest doubles, the others exact.
    static constexpr double kPowers[] = {
        1e-22, 1e-21, 1e-20, 1e-19, 1e-18, 1e-17, 1e-16, 1e-15, 1e-14, 1e-13, 1e-12, 1e-11,
        1e-10, 1e-9,  1e-8,  1e-7,  1e-6,  1e-5,  1e-4,  1e-3,  1e-2,  1e-1,  1e0,   1e1,
        1e2,   1e3,   1e4,   1e5,   1e6,   1e7,   1e8,   1e9,   1e10,  1e11,  1e12,  1e13,
        1e14,  1e15,  1e16,  1e17,  1e18,  1e19,  1e20,  1e21,  1e22};
    size_t i = 0;
    const bool negative = p[0] == '-';
    if (negative || p[0] == '+')
        i = 1;
    uint64_t mantissa = 0;
    const int whole = DigitRun(p + i, mantissa);
    if (whole < 0)
        return 0;
    i += static_cast<size_t>(whole);
    int fraction = 0;
    if (p[i] == '.') {
        fraction = DigitRun(p + i + 1, mantissa);
        if (fraction < 0)
            return 0;
        i += 1 + static_cast<size_t>(fraction);
    }
    if (whole + fraction == 0 || whole + fraction > 19)
        return 0;
    int exponent = -fraction;
    if (p[i] == 'e' || p[i] == 'E') {
        size_t j = i + 1;
        const bool down = p[j] == '-';
        if (down || p[j] == '+')
            ++j;
        if (static_cast<unsigned char>(p[j] - '0') < 10) {
            int e = 0;
            for (int n = 0; static_cast<unsigned char>(p[j] - '0') < 10; ++j, ++n) {
                if (n == 3)
                    return 0;
                e = e * 10 + (p[j] - '0');
            }
            exponent += down ? -e : e;
            i = j;
        }
    }
    if (mantissa == 0) {
        value = negative ? -0.0f : 0.0f;
        return i;
    }
    if (exponent < -22 || exponent > 22 || mantissa > (uint64_t{1} << 53))
        return 0;
    // A product rather than a division, which would hold up everything after it: one rounding
    // of the power and one of the product leave d within two units of its last place of the
    // decimal, so d rounds to the decimal's nearest float unless it lies that close to a point
    // half-way between two floats (the 29 bits a float drops are then 1 and 28 zeros, give or
    // take a few). Those few go the careful way.
    const double d = static_cast<double>(mantissa) * kPowers[exponent + 22];
    uint64_t bits = 0;
    std::memcpy(&bits, &d, sizeof bits);
    const uint64_t dropped = bits & ((uint64_t{1} << 29) - 1);
    const bool nearHalfWay = dropped - ((uint64_t{1} << 28) - 4) <= 8;
    if (d < static_cast<double>(FLT_MIN) || d > static_cast<double>(FLT_MAX) || nearHalfWay)
        return 0;
    value = static_cast<float>(negative ? -d : d);
    return i;
}
#else
size_t QuickestDecimal(const char*, float&) {
    return 0;
}
#endif

#ifdef __SSE2__
// Bit k set when character k of the 16 at p is a blank.
uint32_t Blanks16(const char* p) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i controls = _mm_sub_epi8(c, _mm_set1_epi8('\t')); // tab to carriage return
    const __m128i lanes =
        _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(controls, _mm_set1_epi8('\r' - '\t')), controls),
                     _mm_cmpeq_epi8(c, _mm_set1_epi8(' ')));
    return static_cast<uint32_t>(_mm_movemask_epi8(lanes));
}

uint64_t Blanks64(const char* p) {
    return uint64_t{Blanks16(p)} | uint64_t{Blanks16(p + 16)} << 16 |
           uint64_t{Blanks16(p + 32)} << 32 | uint64_t{Blanks16(p + 48)} << 48;
}

// Length of the word at p when it ends within 32 characters, 0 otherwise (kQuickReadable bytes
// readable): where the next blank is, from two 16-byte comparisons rather than one character
// at a time.
size_t QuickWordLength(const char* p) {
    const uint32_t blank = Blanks16(p) | Blanks16(p + 16) << 16;
    return blank != 0 ? static_cast<size_t>(__builtin_ctz(blank)) : 0;
}
#else
size_t QuickWordLength(const char*) {
    return 0;
}
#endif

} // namespace

// A reading is the number at the start of its word, as a stream reads it (sign, digits, point,
// exponent of any width); what follows it in the word is read next. Returns the characters taken,
// 0 for a word that does not begin with a number. The words the writer uses for values that are
// not finite are taken whole.
size_t ParseAcquisitionReading(std::string_view word, float& value) {
    const bool negative = !word.empty() && word[0] == '-';
    const std::string_view bare = negative ? word.substr(1) : word;
    if (bare == "inf" || bare == "nan") {
        value = bare == "inf" ? INFINITY : NAN;
        value = negative ? -value : value;
        return word.size();
    }
    bool exact = false;
    const size_t length = QuickDecimal(word, value, exact);
    if (length == 0 || exact)
        return length;
    std::string_view number = word.substr(0, length);
    if (number[0] == '+')
        number.remove_prefix(1); // from_chars takes no plus sign
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
    (void)end;
    if (ec == std::errc::result_out_of_range && !ParseLeadingFloat(word, value))
        return 0; // saturates to infinity or zero otherwise
    return length;
}

bool ParseAcquisitionTimestamp(std::string_view word, std::time_t& t) {
    CTimestampReader reader;
    return reader.Read(word, t);
}

bool CWordReader::Next(std::string_view& word) {
    if (!m_rest.empty()) {
        m_word.swap(m_rest);
        m_rest.clear();
        word = m_word;
        return true;
    }
    return SkipBlanks() && WordAfterBlanks(word);
}

CWordReader::Reading CWordReader::NextReading(float& value, std::string_view& word) {
    if (m_rest.empty()) {
        if (!SkipBlanks())
            return Reading::kEnd;
        // The usual word: a number the quickest way, then a blank, well inside this chunk.
        if (m_end - m_pos >= kQuickReadable) {
            const size_t length = QuickestDecimal(m_text.data() + m_pos, value);
            if (length > 0 && IsBlank(m_text[m_pos + length])) {
                m_pos += length;
                return Reading::kNumber;
            }
        }
        WordAfterBlanks(word);
    } else if (!Next(word)) {
        return Reading::kEnd;
    }
    const size_t used = ParseAcquisitionReading(word, value);
    if (used == 0)
        return Reading::kNotNumber;
    KeepRest(word, used);
    return Reading::kNumber;
}

bool CWordReader::QuickRow(std::string_view& timestamp, float* values, size_t count) {
#ifdef __SSE2__
    // Where the words of the next 192 characters begin and end, from their blanks: a word begins
    // at a character that is not a blank after one that is, and ends at the blank after it. What
    // comes before m_pos counts as a blank, as it does for Next.
    constexpr size_t kWindow = 192;
    constexpr size_t kWords = 9;
    if (!m_rest.empty() || count + 1 > kWords || m_end - m_pos < kWindow + kQuickReadable)
        return false;
    const char* p = m_text.data() + m_pos;
    size_t start[kWords], end[kWords];
    size_t starts = 0, ends = 0;
    uint64_t carry = 1;
    for (size_t k = 0; k < kWindow / 64 && ends < count + 1; ++k) {
        const uint64_t blank = Blanks64(p + 64 * k);
        const uint64_t before = blank << 1 | carry;
        carry = blank >> 63;
        for (uint64_t bits = ~blank & before; bits != 0 && starts < count + 1; bits &= bits - 1)
            start[starts++] = 64 * k + static_cast<size_t>(__builtin_ctzll(bits));
        for (uint64_t bits = blank & ~before; bits != 0 && ends < count + 1; bits &= bits - 1)
            end[ends++] = 64 * k + static_cast<size_t>(__builtin_ctzll(bits));
    }
    if (ends < count + 1)
        return false;
    for (size_t w = 1; w <= count; ++w)
        if (QuickestDecimal(p + start[w], values[w - 1]) != end[w] - start[w])
            return false;
    timestamp = std::string_view(p + start[0], end[0] - start[0]);
    m_pos += end[count];
    return true;
#else
    (void)timestamp;
    (void)values;
    (void)count;
    return false;
#endif
}

std::string CWordReader::TakeLine(size_t keep) {
    std::string line;
    for (;;) {
        const size_t start = m_pos;
        const void* lf =
            m_pos < m_end ? std::memchr(m_text.data() + m_pos, '\n', m_end - m_pos) : nullptr;
        const size_t stop =
            lf ? static_cast<size_t>(static_cast<const char*>(lf) - m_text.data()) : m_end;
        if (line.size() < keep)
            line.append(m_text.data() + start, std::min(stop - start, keep - line.size()));
        m_pos = lf ? stop + 1 : m_end;
        if (lf || !Refill())
            return line;
    }
}

void CWordReader::SkipLine() {
    for (;;) {
        const void* lf =
            m_pos < m_end ? std::memchr(m_text.data() + m_pos, '\n', m_end - m_pos) : nullptr;
        if (lf) {
            m_pos = static_cast<size_t>(static_cast<const char*>(lf) - m_text.data()) + 1;
            return;
        }
        m_pos = m_end;
        if (!Refill())
            return;
    }
}

bool CWordReader::SkipBlanks() {
    for (;;) {
        const char* text = m_text.data();
        size_t pos = m_pos;
        while (pos < m_end && IsBlank(text[pos]))
            ++pos;
        m_pos = pos;
        if (m_pos < m_end)
            return true;
        if (!Refill())
            return false;
    }
}

// The word that starts at m_pos (a character that is not a blank).
bool CWordReader::WordAfterBlanks(std::string_view& word) {
    const size_t start = m_pos;
    const char* text = m_text.data();
    if (m_end - m_pos >= kQuickReadable) {
        if (const size_t length = QuickWordLength(text + start)) {
            m_pos += length;
            word = m_text.substr(start, length);
            return true;
        }
    }
    const size_t limit = std::min(m_end, start + kMaxAcquisitionWord);
    size_t pos = m_pos;
    while (pos < limit && !IsBlank(text[pos]))
        ++pos;
    m_pos = pos;
    if (m_pos < m_end) {
        word = m_text.substr(start, m_pos - start);
        if (word.size() == kMaxAcquisitionWord)
            SkipWordRest();
        return true;
    }
    // The word runs to the end of the chunk: gather it across chunks.
    m_word.assign(m_text.data() + start, m_pos - start);
    while (Refill()) {
        while (m_pos < m_end && !IsBlank(m_text[m_pos]) && m_word.size() < kMaxAcquisitionWord)
            m_word += m_text[m_pos++];
        if (m_pos < m_end || m_word.size() >= kMaxAcquisitionWord)
            break;
    }
    if (m_word.size() >= kMaxAcquisitionWord)
        SkipWordRest();
    word = m_word;
    return true;
}

void CWordReader::SkipWordRest() {
    for (;;) {
        while (m_pos < m_end && !IsBlank(m_text[m_pos]))
            ++m_pos;
        if (m_pos < m_end || !Refill())
            return;
    }
}

bool CWordReader::Refill() {
    if (!m_fill || m_bFailed)
        return false;
    const long got = m_fill(m_buffer.data(), m_buffer.size());
    if (got < 0)
        m_bFailed = true;
    if (got <= 0)
        return false;
    m_nBefore += m_end;
    m_text = std::string_view(m_buffer.data(), static_cast<size_t>(got));
    m_pos = 0;
    m_end = m_text.size();
    return true;
}

bool CTimestampReader::Read(std::string_view word, std::time_t& t) {
    int fields[6] = {};
    size_t at = 0;
    size_t hourEnd = 0;
    if (m_nPrefix > 0 && word.size() > m_nPrefix &&
        std::memcmp(word.data(), m_prefix, m_nPrefix) == 0) {
        // Up to the hour and its separator the word is the last good one's.
        std::copy(std::begin(m_date), std::end(m_date), fields);
        at = m_nPrefix;
        return ReadFields(word, at, 4, fields, hourEnd) && ToTime(fields, t);
    }
    if (!ReadFields(word, at, 0, fields, hourEnd) || !ToTime(fields, t))
        return false;
    m_nPrefix = hourEnd + 1 <= kMaxPrefix ? hourEnd + 1 : 0; // with the ':' after the hour
    std::memcpy(m_prefix, word.data(), m_nPrefix);
    std::copy(fields, fields + 4, m_date);
    return true;
}

// Converting is slow (time zone rules); consecutive lines share their hour, so the hour's start
// is kept and the minutes and seconds added, unless the offset changes inside that hour.
bool CTimestampReader::ToTime(const int (&fields)[6], std::time_t& t) {
    const int day = fields[0], month = fields[1], year = fields[2], hour = fields[3];
    if (!m_bHour || day != m_hour[0] || month != m_hour[1] || year != m_hour[2] ||
        hour != m_hour[3]) {
        m_bHour = false;
        std::time_t end = 0;
        if (!LocalTimeFromFields(year, month, day, hour, 0, 0, m_hourStart) ||
            !LocalTimeFromFields(year, month, day, hour, 59, 59, end))
            return false;
        m_bHour = true;
        m_bRegular = end - m_hourStart == 3599; // no change of offset inside it
        m_hour[0] = day;
        m_hour[1] = month;
        m_hour[2] = year;
        m_hour[3] = hour;
    }
    if (!m_bRegular)
        return LocalTimeFromFields(year, month, day, hour, fields[4], fields[5], t);
    t = m_hourStart + fields[4] * 60 + fields[5];
    return true;
}

// Fuzzes the receive path of a meter stream: arbitrary bytes arrive in chunks of arbitrary sizes
// and are cut into calibrated readings. Every result is compared with a plain model of the line
// rules built on the C library's strtod, so a wrong reading fails as surely as a crash.
//
// Input: byte 0 shapes the chunk sizes, bytes 1 and 2 choose gain and offset, byte 3 how many
// chunks arrive between two passes that take the lines; the rest is the received stream.

#include "link/LineBuffer.h"
#include "link/NumberText.h"

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace {

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "line buffer fuzz: %s\n", what);
        std::abort();
    }
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool SameFloat(float a, float b) {
    if (std::isnan(a) || std::isnan(b))
        return std::isnan(a) && std::isnan(b);
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Calibration factors from one byte: the edges a user can type (or a damaged file can hold)
// first, then a spread of ordinary values.
float FactorFromByte(uint8_t byte) {
    static const float kEdges[] = {1.0f,
                                   0.0f,
                                   -0.0f,
                                   -1.0f,
                                   0.5f,
                                   1.1f,
                                   1e-7f,
                                   1e3f,
                                   FLT_MAX,
                                   -FLT_MAX,
                                   FLT_MIN,
                                   std::numeric_limits<float>::denorm_min(),
                                   std::numeric_limits<float>::infinity(),
                                   -std::numeric_limits<float>::infinity(),
                                   std::numeric_limits<float>::quiet_NaN(),
                                   3.3e-3f};
    constexpr size_t kEdgeCount = sizeof kEdges / sizeof kEdges[0];
    if (byte < kEdgeCount)
        return kEdges[byte];
    return (static_cast<float>(byte) - 136.0f) / 7.0f;
}

// The number a line begins with, by strtod in the "C" locale rather than by the code under
// test. A line that strtod would read as hexadecimal begins with the decimal number "0"; strtod's
// "inf" and "nan" are excluded by the first-character test.
struct ModelNumber {
    bool found = false;
    size_t length = 0; // characters of the decimal number
    float value = 0.0f;
};

ModelNumber ReadModelNumber(std::string_view text) {
    ModelNumber number;
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    const bool digitFirst = i < text.size() && IsDigit(text[i]);
    const bool pointDigit = i + 1 < text.size() && text[i] == '.' && IsDigit(text[i + 1]);
    if (!digitFirst && !pointDigit)
        return number;
    const std::string copy(text);
    char* end = nullptr;
    const double parsed = std::strtod(copy.c_str(), &end);
    number.found = true;
    number.length = static_cast<size_t>(end - copy.c_str());
    number.value = static_cast<float>(parsed);
    const bool hex =
        text.size() > i + 1 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X');
    if (hex) {
        number.length = i + 1;
        number.value = text[0] == '-' ? -0.0f : 0.0f;
    }
    return number;
}

// The parsers of NumberText on one piece of text against the model.
void CheckNumberText(std::string_view text) {
    const ModelNumber model = ReadModelNumber(text);
    const size_t length = ScanFloatPrefix(text);
    Check(length == model.length, "ScanFloatPrefix disagrees with strtod");
    Check(ScanFloatPrefix(text.substr(0, length)) == length, "number prefix is not a number");

    float leading = 12345.0f;
    const bool hasLeading = ParseLeadingFloat(text, leading);
    Check(hasLeading == model.found, "ParseLeadingFloat finds a number strtod does not");
    if (hasLeading)
        Check(SameFloat(leading, model.value), "ParseLeadingFloat value differs from strtod");
    else
        Check(leading == 12345.0f, "ParseLeadingFloat changed the value on failure");

    float exact = 12345.0f;
    const bool exactExpected =
        model.found && model.length == text.size() && std::isfinite(model.value);
    Check(ParseFloatExact(text, exact) == exactExpected, "ParseFloatExact accepts wrongly");
    Check(SameFloat(exact, exactExpected ? model.value : 12345.0f), "ParseFloatExact value");

    // Integers: an optional sign, then only digits, within int.
    size_t digitsFrom = (!text.empty() && (text[0] == '+' || text[0] == '-')) ? 1 : 0;
    bool intGrammar = text.size() > digitsFrom;
    for (size_t i = digitsFrom; i < text.size() && intGrammar; ++i)
        intGrammar = IsDigit(text[i]);
    bool intExpected = false;
    long long wide = 0;
    if (intGrammar) {
        const std::string copy(text);
        errno = 0;
        wide = std::strtoll(copy.c_str(), nullptr, 10);
        intExpected = errno != ERANGE && wide >= std::numeric_limits<int>::min() &&
                      wide <= std::numeric_limits<int>::max();
    }
    int integer = 12345;
    Check(ParseIntExact(text, integer) == intExpected, "ParseIntExact accepts wrongly");
    Check(integer == (intExpected ? static_cast<int>(wide) : 12345), "ParseIntExact value");
}

// The line rules on their own, in the received text (the bytes before each chunk's first zero
// byte): lines end at CR LF and are trimmed; blank lines yield nothing; a line whose text, from
// its first non-blank byte to its CR LF, is as long as the bound or longer is dropped whatever
// the chunks; and so is every line that lost bytes after a zero byte. Lost bytes between a CR
// and an LF mean those two never formed a delimiter, so the lines on both sides are dropped.
class LineModel {
public:
    void Append(std::string_view bytes, bool lostRest) {
        const size_t scanFrom = m_current.empty() ? 0 : m_current.size() - 1;
        m_current.append(bytes.data(), bytes.size());
        size_t lineStart = 0;
        for (size_t at = m_current.find("\r\n", scanFrom); at != std::string::npos;
             at = m_current.find("\r\n", lineStart)) {
            const std::string_view raw(m_current.data() + lineStart, at - lineStart);
            const size_t start = m_base + lineStart;
            const size_t delimiter = m_base + at;
            lineStart = at + 2;
            bool lost = false;
            while (!m_gaps.empty() && m_gaps.front() <= delimiter + 1) {
                lost = lost || m_gaps.front() + 1 >= start;
                if (m_gaps.front() == delimiter + 1)
                    break; // inside the delimiter: the next line lost bytes too
                m_gaps.pop_front();
            }
            size_t blanks = 0;
            while (blanks < raw.size() && IsBlank(raw[blanks]))
                ++blanks;
            const std::string_view line = Trim(raw);
            if (!lost && raw.size() - blanks < CLineBuffer::kMaxPending && !line.empty())
                m_lines.emplace_back(line);
        }
        m_current.erase(0, lineStart);
        m_base += lineStart;
        if (lostRest)
            m_gaps.push_back(m_base + m_current.size());
    }

    // What one pass of taking lines yields.
    std::vector<std::string> Take() {
        std::vector<std::string> lines;
        lines.swap(m_lines);
        return lines;
    }

private:
    std::string m_current;     // the unfinished line
    size_t m_base = 0;         // its position in the received text
    std::deque<size_t> m_gaps; // where bytes were lost, in the received text
    std::vector<std::string> m_lines;
};

void PrintLines(const char* title, const std::vector<std::string>& lines) {
    std::fprintf(stderr, "\n%s:", title);
    for (const std::string& line : lines) {
        std::fprintf(stderr, " \"");
        for (size_t i = 0; i < line.size() && i < 40; ++i) {
            const unsigned char c = static_cast<unsigned char>(line[i]);
            if (c >= 0x20 && c < 0x7F)
                std::fputc(c, stderr);
            else
                std::fprintf(stderr, "\\x%02X", c);
        }
        std::fprintf(stderr, line.size() > 40 ? "...(%zu)\"" : "\"", line.size());
    }
    std::fprintf(stderr, "\n");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4)
        return 0;
    // Chunk sizes up to 2^(low nibble), from a small generator seeded by the high nibble.
    const size_t maxChunk = size_t(1) << (data[0] & 15);
    uint32_t state = 0x9E3779B9u * (1u + (data[0] >> 4));
    const float gain = FactorFromByte(data[1]);
    const float offset = FactorFromByte(data[2]);
    const unsigned chunksPerPass = 1 + (data[3] & 3);
    data += 4;
    size -= 4;

    CLineBuffer readings; // taken with TakeReadings
    CLineBuffer lines;    // taken line by line, as the polling thread does
    LineModel model;
    std::vector<size_t> chunkSizes; // of the current pass, for the report of a mismatch
    size_t at = 0;
    while (at < size) {
        state = state * 1664525u + 1013904223u;
        const size_t chunk = std::min(size - at, 1 + (state >> 8) % maxChunk);
        const char* bytes = reinterpret_cast<const char*>(data + at);
        at += chunk;
        readings.Append(bytes, chunk);
        lines.Append(bytes, chunk);
        const void* zero = std::memchr(bytes, '\0', chunk);
        const size_t kept =
            zero ? static_cast<size_t>(static_cast<const char*>(zero) - bytes) : chunk;
        // Bytes after a zero byte are lost; a zero byte that ends the chunk loses nothing.
        model.Append(std::string_view(bytes, kept), kept + 1 < chunk);
        chunkSizes.push_back(chunk);
        if (chunkSizes.size() < chunksPerPass && at < size)
            continue;

        const std::vector<std::string> expected = model.Take();
        std::vector<std::string> taken;
        std::string_view line;
        while (lines.TakeLine(line))
            taken.emplace_back(line);
        if (taken != expected) {
            std::fprintf(stderr, "pass ending at byte %zu, chunks:", at);
            for (size_t c : chunkSizes)
                std::fprintf(stderr, " %zu", c);
            PrintLines("expected", expected);
            PrintLines("taken", taken);
            Check(false, "lines differ from the model");
        }

        std::vector<float> expectedValues;
        for (const std::string& text : taken) {
            Check(text.size() <= CLineBuffer::kMaxPending, "line beyond the bound");
            float value = 0.0f;
            const bool calibrated = CLineBuffer::CalibrateLine(text, gain, offset, value);
            const ModelNumber number = ReadModelNumber(text);
            Check(calibrated == number.found, "CalibrateLine finds a different number");
            if (calibrated) {
                const float product = gain * number.value;
                expectedValues.push_back(product + offset);
                Check(SameFloat(value, expectedValues.back()),
                      "reading is not gain * raw + offset");
            }
            CheckNumberText(text);
        }

        size_t next = 0;
        const size_t count = readings.TakeReadings(gain, offset, [&](float value) {
            Check(next < expectedValues.size(), "TakeReadings gives more readings than lines");
            Check(SameFloat(value, expectedValues[next]), "TakeReadings gives another value");
            ++next;
        });
        Check(count == next && next == expectedValues.size(), "TakeReadings count");

        for (const CLineBuffer* buffer : {&readings, &lines})
            Check(buffer->Pending().size() <= CLineBuffer::kMaxPending,
                  "pending text beyond the bound");
        chunkSizes.clear();
    }
    // Searched once at the end: after every pass it would make the check itself quadratic.
    for (const CLineBuffer* buffer : {&readings, &lines})
        Check(buffer->Pending().find("\r\n") == std::string_view::npos, "a complete line was left");

    // The number parsers also see text that is not trimmed; a short window keeps this cheap.
    const std::string_view raw(reinterpret_cast<const char*>(data), std::min<size_t>(size, 64));
    for (size_t from = 0; from < raw.size(); from += 8)
        CheckNumberText(raw.substr(from));
    return 0;
}

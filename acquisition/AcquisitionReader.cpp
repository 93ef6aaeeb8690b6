#include "acquisition/AcquisitionReader.h"

#include "link/LocalTime.h"
#include "link/NumberText.h"

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <new>
#include <system_error>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kMaxWord = 1023;
constexpr size_t kMaxNamesLine = 64 * 1024; // eight titles need far less; the rest is skipped
constexpr size_t kChunk = 1 << 20;

// The characters that separate words: blank, tab, line feed, carriage return, vertical tab and
// form feed, looked up rather than compared one by one.
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

// Whitespace-separated words from a source read in chunks, so a file of any size takes a
// bounded amount of memory. A word inside one chunk is handed out in place.
class CWordReader {
public:
    // `fill` puts up to `size` bytes at `to` and returns how many; 0 at the end, -1 on error.
    using Fill = std::function<long(char* to, size_t size)>;
    CWordReader(Fill fill, size_t chunk) : m_fill(std::move(fill)), m_buffer(chunk) {}
    explicit CWordReader(std::string_view text) : m_text(text), m_pos(0), m_end(text.size()) {}

    bool Failed() const { return m_bFailed; }

    // False at the end of the text.
    bool Next(std::string_view& word) {
        if (!m_rest.empty()) {
            m_word.swap(m_rest);
            m_rest.clear();
            word = m_word;
            return true;
        }
        if (!SkipBlanks())
            return false;
        const size_t start = m_pos;
        const char* text = m_text.data();
        const size_t limit = std::min(m_end, start + kMaxWord);
        size_t pos = m_pos;
        while (pos < limit && !IsBlank(text[pos]))
            ++pos;
        m_pos = pos;
        if (m_pos < m_end) {
            word = m_text.substr(start, m_pos - start);
            if (word.size() == kMaxWord)
                SkipWordRest();
            return true;
        }
        // The word runs to the end of the chunk: gather it across chunks.
        m_word.assign(m_text.data() + start, m_pos - start);
        while (Refill()) {
            while (m_pos < m_end && !IsBlank(m_text[m_pos]) && m_word.size() < kMaxWord)
                m_word += m_text[m_pos++];
            if (m_pos < m_end || m_word.size() >= kMaxWord)
                break;
        }
        if (m_word.size() >= kMaxWord)
            SkipWordRest();
        word = m_word;
        return true;
    }

    // The word last read was taken up to `used` characters: the rest is the next word, as a
    // number read from a stream leaves what follows it.
    void KeepRest(std::string_view word, size_t used) {
        if (used < word.size())
            m_rest.assign(word.substr(used));
    }

    // Bytes of the text read so far (up to the next word).
    uint64_t Offset() const { return m_nBefore + m_pos; }

    // True when a character (of any kind) is left.
    bool HasMore() { return !m_rest.empty() || m_pos < m_end || Refill(); }

    // The rest of the current line (without its line feed, at most `keep` characters of it),
    // and the reader just after the line feed.
    std::string TakeLine(size_t keep) {
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

    // Skips to just after the next line feed.
    void SkipLine() {
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

private:
    bool SkipBlanks() {
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
    void SkipWordRest() {
        for (;;) {
            while (m_pos < m_end && !IsBlank(m_text[m_pos]))
                ++m_pos;
            if (m_pos < m_end || !Refill())
                return;
        }
    }
    bool Refill() {
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

    Fill m_fill;
    std::vector<char> m_buffer;
    std::string_view m_text;
    size_t m_pos = 0;
    size_t m_end = 0;
    uint64_t m_nBefore = 0; // bytes of the chunks before this one
    std::string m_word;
    std::string m_rest; // the part of a word that a number did not take
    bool m_bFailed = false;
};

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

// Converting is slow (time zone rules); consecutive lines share their hour, so the hour's start
// is kept and the minutes and seconds added, unless the offset changes inside that hour.
class CLocalTimeCache {
public:
    bool Convert(int year, int month, int day, int hour, int minute, int second, std::time_t& t) {
        if (!m_bValid || year != m_year || month != m_month || day != m_day || hour != m_hour) {
            m_bValid = false;
            std::time_t end = 0;
            if (!ToTime(year, month, day, hour, 0, 0, m_hourStart) ||
                !ToTime(year, month, day, hour, 59, 59, end))
                return false;
            m_bValid = true;
            m_bRegular = end - m_hourStart == 3599; // no change of offset inside it
            m_year = year;
            m_month = month;
            m_day = day;
            m_hour = hour;
        }
        if (!m_bRegular)
            return ToTime(year, month, day, hour, minute, second, t);
        t = m_hourStart + minute * 60 + second;
        return true;
    }

private:
    static bool ToTime(int year, int month, int day, int hour, int minute, int second,
                       std::time_t& t) {
        return LocalTimeFromFields(year, month, day, hour, minute, second, t);
    }

    bool m_bValid = false;
    bool m_bRegular = true;
    int m_year = 0, m_month = 0, m_day = 0, m_hour = 0;
    std::time_t m_hourStart = 0;
};

bool ParseTimestamp(std::string_view word, CLocalTimeCache& cache, std::time_t& t) {
    int fields[6] = {};
    const char separators[5] = {'/', '/', '-', ':', ':'};
    size_t at = 0;
    for (int i = 0; i < 6; ++i) {
        if (i > 0) {
            if (at >= word.size() || word[at] != separators[i - 1])
                return false;
            ++at;
        }
        if (!ReadField(word, at, fields[i]))
            return false;
    }
    const int day = fields[0], month = fields[1], year = fields[2];
    const int hour = fields[3], minute = fields[4], second = fields[5];
    if (year < 1900 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 ||
        minute < 0 || minute > 59 || second < 0 || second > 59)
        return false;
    return cache.Convert(year, month, day, hour, minute, second, t);
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

// Fields of the names line "\tA\tB\t": those between the leading and the trailing tab, each as
// long as a word may be.
std::vector<std::string> SplitNames(std::string_view line) {
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    std::vector<std::string> names;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        names.emplace_back(
            line.substr(start, std::min(tab, line.size()) - start).substr(0, kMaxWord));
        if (tab == std::string_view::npos)
            break;
        start = tab + 1;
    }
    if (!names.empty() && names.front().empty())
        names.erase(names.begin());
    if (!names.empty() && names.back().empty())
        names.pop_back();
    return names;
}

bool ParseCount(std::string_view word, int64_t& count) {
    const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), count);
    return ec == std::errc() && end == word.data() + word.size() && count >= 0;
}

// Tens of megabytes of points fill up page by page; with large pages the system takes far
// fewer faults. Only a hint: where it is not granted nothing changes.
void AskForLargePages(void* start, size_t bytes) {
#ifdef MADV_HUGEPAGE
    constexpr uintptr_t kLarge = 2u << 20;
    const auto begin = (reinterpret_cast<uintptr_t>(start) + kLarge - 1) & ~(kLarge - 1);
    const auto end = (reinterpret_cast<uintptr_t>(start) + bytes) & ~(kLarge - 1);
    if (end > begin)
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)start;
    (void)bytes;
#endif
}

// Room for the points of a file of `total` bytes whose first data line took `lineBytes`: one
// allocation instead of a vector growing and copying itself some twenty times.
void ReserveSeries(CAcquisitionData& data, uint64_t total, uint64_t offset, uint64_t lineBytes) {
    constexpr uint64_t kMaxReserve = 16u << 20; // beyond, the series grow as usual
    if (lineBytes == 0 || total <= offset)
        return;
    const uint64_t lines = std::min(kMaxReserve, (total - offset) / lineBytes + 2);
    const int64_t used = std::min<int64_t>(data.m_nChannels, CAcquisitionData::kSeries);
    for (int64_t j = 0; j < used; ++j) {
        auto& series = data.m_series[static_cast<size_t>(j)];
        series.reserve(static_cast<size_t>(lines));
        AskForLargePages(series.data(), series.capacity() * sizeof(CGraphData));
    }
}

void Read(CWordReader& words, CAcquisitionData& data, uint64_t totalBytes) {
    std::string_view word;
    if (!words.Next(word) || !ParseCount(word, data.m_nChannels)) {
        if (!words.Failed())
            data.m_messages.emplace_back("Bad File Format");
        data.m_bStopped = true;
        return;
    }
    // The names are the tab-separated fields of the next line, as the writer puts them: a
    // title with a blank, or one beginning with '-', is one name. The line of hyphens follows.
    words.SkipLine();
    const std::string namesLine = words.TakeLine(kMaxNamesLine);
    bool separator = !namesLine.empty() && namesLine[0] == '-'; // a file without a names line
    if (!separator) {
        data.m_names = SplitNames(namesLine);
        separator = words.Next(word) && word[0] == '-';
        if (separator)
            words.SkipLine(); // the rest of the line of hyphens
    }
    if (!separator) {
        // No line of hyphens where it belongs: this is not a file to read data from.
        data.m_names.clear();
        data.m_messages.emplace_back("Bad File Format");
        data.m_bStopped = true;
        return;
    }
    if (static_cast<int64_t>(data.m_names.size()) != data.m_nChannels)
        data.m_messages.emplace_back("Bad File Format");

    CLocalTimeCache cache;
    const uint64_t dataStart = words.Offset();
    while (words.HasMore()) {
        if (!words.Next(word))
            break;
        std::time_t t = 0;
        if (!ParseTimestamp(word, cache, t)) {
            data.m_messages.emplace_back("Bad Date Format");
            data.m_messages.emplace_back(word);
            data.m_bStopped = true;
            return;
        }
        if (!data.m_bHasStart) {
            data.m_bHasStart = true;
            data.m_timeStart = t;
        }
        const auto elapsed = static_cast<float>(t - data.m_timeStart);
        for (int64_t j = 1; j <= data.m_nChannels; ++j) {
            if (!words.Next(word))
                return;
            float value = 0.0f;
            const size_t used = ParseAcquisitionReading(word, value);
            if (used == 0) {
                data.m_messages.emplace_back("Bad Value Format");
                data.m_messages.emplace_back(word);
                data.m_bStopped = true;
                return;
            }
            words.KeepRest(word, used);
            if (j <= CAcquisitionData::kSeries)
                data.m_series[static_cast<size_t>(j - 1)].push_back({elapsed, value});
        }
        if (++data.m_nLines == 1)
            ReserveSeries(data, totalBytes, words.Offset(), words.Offset() - dataStart);
    }
}

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
    CLocalTimeCache cache;
    return ParseTimestamp(word, cache, t);
}

CAcquisitionData ReadAcquisitionText(std::string_view text) {
    CAcquisitionData data;
    CWordReader words(text);
    Read(words, data, text.size());
    return data;
}

CAcquisitionData ReadAcquisitionText(std::string_view text, size_t chunkSize) {
    CAcquisitionData data;
    size_t at = 0;
    CWordReader words(
        [&](char* to, size_t size) -> long {
            const size_t n = std::min(size, text.size() - at);
            std::memcpy(to, text.data() + at, n);
            at += n;
            return static_cast<long>(n);
        },
        std::max<size_t>(1, chunkSize));
    Read(words, data, text.size());
    return data;
}

bool LoadAcquisitionFile(const std::string& path, CAcquisitionData& data, std::string& error,
                         CLoadProgress* progress) {
    data = CAcquisitionData();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "Unable to open " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        // A device or a pipe could feed words for ever.
        ::close(fd);
        error = "Unable to open " + path + ": not a regular file";
        return false;
    }
    if (progress)
        progress->m_nTotalBytes = static_cast<uint64_t>(status.st_size);
    int readError = 0;
    bool cancelled = false;
    CWordReader words(
        [fd, &readError, &cancelled, progress](char* to, size_t size) -> long {
            if (progress && progress->m_bCancel.load()) {
                cancelled = true;
                return -1;
            }
            for (;;) {
                const ssize_t n = ::read(fd, to, size);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0)
                    readError = errno;
                if (n > 0 && progress)
                    progress->m_nBytesRead += static_cast<uint64_t>(n);
                return static_cast<long>(n);
            }
        },
        kChunk);
    try {
        Read(words, data, static_cast<uint64_t>(status.st_size));
    } catch (const std::bad_alloc&) {
        ::close(fd);
        data = CAcquisitionData();
        error = "Unable to read " + path + ": not enough memory";
        return false;
    }
    ::close(fd);
    if (cancelled) {
        data = CAcquisitionData();
        error = "Loading " + path + " cancelled";
        return false;
    }
    if (words.Failed()) {
        error = "Unable to read " + path + ": " + std::strerror(readError);
        return false;
    }
    return true;
}

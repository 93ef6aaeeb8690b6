#pragma once
// The words of an acquisition file as its reader takes them: whitespace-separated words from a
// source read in chunks, and the readings and timestamps they hold.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Words are at most this long; the rest of a longer one is skipped with it.
constexpr size_t kMaxAcquisitionWord = 1023;

// A reading word: the number it begins with, as ScanFloatPrefix finds it (any exponent width),
// rounded to the nearest float, or the "inf" and "nan" the writer writes for readings that are
// not finite. Returns the characters taken (0: not a number); the rest is the next word.
size_t ParseAcquisitionReading(std::string_view word, float& value);

// Timestamp "%d/%d/%d-%d:%d:%d" (day, month, year, hour, minute, second; no leading zeros
// needed) to local calendar time. False for fields that are not a valid calendar time.
bool ParseAcquisitionTimestamp(std::string_view word, std::time_t& t);

// Whitespace-separated words (blank, tab, line feed, carriage return, vertical tab, form feed)
// from a source read in chunks, so a file of any size takes a bounded amount of memory. A word
// inside one chunk is handed out in place.
class CWordReader {
public:
    // `fill` puts up to `size` bytes at `to` and returns how many; 0 at the end, -1 on error.
    using Fill = std::function<long(char* to, size_t size)>;
    CWordReader(Fill fill, size_t chunk) : m_fill(std::move(fill)), m_buffer(chunk) {}

    bool Failed() const { return m_bFailed; }

    // False at the end of the text.
    bool Next(std::string_view& word);

    // The next word read as a reading, as Next, ParseAcquisitionReading and KeepRest would
    // together, without a second pass over the usual word (a number followed by a blank).
    // `word` is set for a word that is not a number.
    enum class Reading { kEnd, kNumber, kNotNumber };
    Reading NextReading(float& value, std::string_view& word);

    // The next 1 + count words (count at most 8) when they are a row of the usual kind: a word
    // for a timestamp and `count` readings the quick way, each followed by a blank, within the
    // next 192 characters. Otherwise false, and nothing is read.
    bool QuickRow(std::string_view& timestamp, float* values, size_t count);

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
    std::string TakeLine(size_t keep);

    // Skips to just after the next line feed.
    void SkipLine();

private:
    bool SkipBlanks();
    bool WordAfterBlanks(std::string_view& word);
    void SkipWordRest();
    bool Refill();

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

// Timestamps of consecutive lines, which mostly share their date and hour: a word that begins
// with the same characters as the last good one up to its hour is read from its minutes on,
// and the calendar time of the hour is kept. The results are ParseAcquisitionTimestamp's.
class CTimestampReader {
public:
    bool Read(std::string_view word, std::time_t& t);

private:
    bool ToTime(const int (&fields)[6], std::time_t& t);

    static constexpr size_t kMaxPrefix = 32;
    char m_prefix[kMaxPrefix] = {};
    size_t m_nPrefix = 0; // 0: nothing kept
    int m_date[4] = {};   // day, month, year, hour of the prefix
    // The hour whose start is kept, and whether its offset stays the same all through it.
    bool m_bHour = false;
    bool m_bRegular = true;
    int m_hour[4] = {};
    std::time_t m_hourStart = 0;
};

#pragma once
// Received meter text not yet taken as lines, and the rules that cut it into readings.

#include <cstddef>
#include <string>
#include <string_view>

class CLineBuffer {
public:
    CLineBuffer() = default;

    // Appends a chunk of received bytes, up to its first zero byte. The bytes after a zero byte
    // are lost, so the line they belong to is dropped when its delimiter arrives: the text on
    // either side of the gap could join into a different number.
    void Append(const char* data, size_t length);

    // Takes every complete line out of the buffer. Each line that begins with a number calls
    // onReading(gain * raw + offset); other lines are dropped. Returns the number of readings.
    template <typename OnReading>
    size_t TakeReadings(float gain, float offset, OnReading&& onReading);

    // Takes the next complete line, trimmed at both ends; false when no complete line is queued.
    bool TakeLine(std::string_view& line);

    // Calibrates one line: false when it does not begin with a number.
    static bool CalibrateLine(std::string_view line, float gain, float offset, float& value);

    std::string_view Pending() const;
    void Clear();

    const std::string m_strDelimiter = "\r\n";
    // A meter that never ends its lines must not grow the buffer without bound: a line of this
    // length or longer (without its CR LF) is dropped whole (a cut line could read as a different
    // number), however the driver splits it into chunks.
    static constexpr size_t kMaxPending = 64 * 1024;

private:
    void Compact();

    std::string m_strBuffer;
    size_t m_nStart = 0;        // first byte not yet taken
    bool m_bDiscarding = false; // an over-long line is being dropped up to its delimiter
    size_t m_nSearched = 0;     // no delimiter begins before this byte
    // Marks where bytes after a zero byte were lost.
    static constexpr char kGapMark = '\0';
};

template <typename OnReading>
size_t CLineBuffer::TakeReadings(float gain, float offset, OnReading&& onReading) {
    size_t count = 0;
    std::string_view line;
    while (TakeLine(line)) {
        float value = 0.0f;
        if (CalibrateLine(line, gain, offset, value)) {
            onReading(value);
            ++count;
        }
    }
    return count;
}

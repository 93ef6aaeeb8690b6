#pragma once
// Reads an acquisition file back: the channel names, the start time and one series of points
// (seconds since the first line, reading) per column 1 to 8.
//
// The channel names are the tab-separated fields of line 2, so a title may hold blanks or begin
// with '-'. The data are read as words separated by blanks, tabs and line ends, so empty lines
// count for nothing and a file started by hand reads like one started on schedule. Problems are
// reported by the messages the user sees, in order:
//   "Bad File Format"            not N names (the load goes on), or no count or line of hyphens
//                                where they belong (nothing is read)
//   "Bad Date Format", the word  a timestamp that is not a valid local date and time (it stops)
//   "Bad Value Format", the word a reading that is not a number (it stops; points before it stay)
// A word is at most 1023 characters; the rest of a longer one is skipped with it.

#include "render/GraphGeometry.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

struct CAcquisitionData {
    static constexpr int kSeries = 8;

    int64_t m_nChannels = 0; // N of line 1: the columns of every data line
    std::vector<std::string> m_names;
    bool m_bHasStart = false;
    std::time_t m_timeStart = 0; // local time of the first data line
    std::array<std::vector<CGraphData>, kSeries> m_series;
    int64_t m_nLines = 0; // data lines read whole
    std::vector<std::string> m_messages;
    bool m_bStopped = false; // a bad timestamp or reading ended the load early
};

// How far a load has come, for a window that shows it, and a way to stop it (from any thread).
struct CLoadProgress {
    std::atomic<uint64_t> m_nBytesRead{0};
    std::atomic<uint64_t> m_nTotalBytes{0};
    std::atomic<bool> m_bCancel{false};
};

// False when the file cannot be opened or read (`error` names it and says why), or when the load
// was cancelled; otherwise what the file holds, with its messages.
bool LoadAcquisitionFile(const std::string& path, CAcquisitionData& data, std::string& error,
                         CLoadProgress* progress = nullptr);
// The same rules over text in memory; with `chunkSize`, handed to the reader in pieces of that
// size, as a file is read (words then cross the pieces' ends).
CAcquisitionData ReadAcquisitionText(std::string_view text);
CAcquisitionData ReadAcquisitionText(std::string_view text, size_t chunkSize);

// A reading word: the number it begins with, as ScanFloatPrefix finds it (any exponent width),
// rounded to the nearest float, or the "inf" and "nan" the writer writes for readings that are
// not finite. Returns the characters taken (0: not a number); the rest is the next word.
size_t ParseAcquisitionReading(std::string_view word, float& value);

// Timestamp "%d/%d/%d-%d:%d:%d" (day, month, year, hour, minute, second; no leading zeros
// needed) to local calendar time. False for fields that are not a valid calendar time.
bool ParseAcquisitionTimestamp(std::string_view word, std::time_t& t);

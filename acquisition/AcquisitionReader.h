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
// A large file is read in pieces on every processor at once, with the same points and the same
// first message as one read from start to end.

#include "acquisition/AcquisitionWords.h"
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

// How a load is split: into `pieces` read at once (0: one per processor), each read in chunks of
// `chunk` bytes; a file is split only into pieces of at least `minPieceBytes`. The results are
// the same however it is split.
struct CReadPlan {
    unsigned pieces = 0;
    size_t chunk = 1 << 20;
    uint64_t minPieceBytes = 8u << 20;
};

// False when the file cannot be opened or read (`error` names it and says why), or when the load
// was cancelled; otherwise what the file holds, with its messages.
bool LoadAcquisitionFile(const std::string& path, CAcquisitionData& data, std::string& error,
                         CLoadProgress* progress = nullptr, const CReadPlan& plan = CReadPlan());
// The same rules over text in memory, in one piece, or as `plan` splits it (pieces of any size
// when its minPieceBytes is 0, chunks of a few bytes so that words cross their ends).
CAcquisitionData ReadAcquisitionText(std::string_view text);
CAcquisitionData ReadAcquisitionText(std::string_view text, const CReadPlan& plan);

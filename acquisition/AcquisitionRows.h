#pragma once
// The data rows of an acquisition file, for its reader: a timestamp and N readings each, read
// from a word reader into series, in one piece or in several at once. Internal to the reader.

#include "acquisition/AcquisitionReader.h"
#include "acquisition/AcquisitionWords.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>

// The bytes of a file or of a text in memory, at any offset.
class CByteSource {
public:
    virtual ~CByteSource() = default;
    // Up to `size` bytes at `offset` into `to`: how many, 0 at the end, -1 on a failure.
    virtual long ReadAt(uint64_t offset, char* to, size_t size) = 0;
    virtual uint64_t Size() const = 0;
};

// What ended a load early besides its text, set from any of its threads: the first failure
// to read (an errno) or a cancellation.
struct CReadFailure {
    std::atomic<int> m_nError{0};
    std::atomic<bool> m_bCancelled{false};
    bool Any() const { return m_nError.load() != 0 || m_bCancelled.load(); }
};

// A word reader's source: the bytes [begin, end) of `source`, looking for a cancellation in
// `progress` before each chunk and, with `counted`, adding what it reads to it.
CWordReader::Fill ReadRange(CByteSource& source, uint64_t begin, uint64_t end,
                            CLoadProgress* progress, bool counted, CReadFailure& failure);

// Tens of megabytes of points fill up page by page; with large pages the system takes far
// fewer faults. Only a hint: where it is not granted nothing changes.
void AskForLargePages(void* start, size_t bytes);

// How a run of rows ended.
struct CRowsEnd {
    int64_t m_nRows = 0;     // rows read whole
    int m_nPartial = 0;      // readings of an unfinished last row that were kept (series 0 to this)
    bool m_bInRow = false;   // the text ended inside a row
    bool m_bFull = false;    // a row found no room (rows in pieces only)
    bool m_bStopped = false; // a bad timestamp or reading: the message and its word
    std::string m_message;
    std::string m_word;
};

// A run of rows that stopped: its message and word become the load's, and the load stopped.
inline void TakeStop(const CRowsEnd& end, CAcquisitionData& data) {
    if (!end.m_bStopped)
        return;
    data.m_messages.push_back(end.m_message);
    data.m_messages.push_back(end.m_word);
    data.m_bStopped = true;
}

// Reads rows until the words end or a fault stops them. The first row's time becomes the start
// unless `hasStart` already. `sink` takes each reading of the first eight columns:
//   bool Room(int64_t row)                    room for one more row
//   void Put(size_t series, int64_t row, CGraphData point)
//   void RowDone(int64_t rows, const CWordReader& words)
template <class Sink>
void ReadRows(CWordReader& words, int64_t nChannels, bool& hasStart, std::time_t& timeStart,
              Sink& sink, CRowsEnd& end) {
    CTimestampReader timestamps;
    const int64_t kept = std::min<int64_t>(nChannels, CAcquisitionData::kSeries);
    std::string_view word;
    float quick[CAcquisitionData::kSeries];
    for (;;) {
        // Most rows at once, the quick way; the others word by word.
        const bool whole = nChannels <= CAcquisitionData::kSeries &&
                           words.QuickRow(word, quick, static_cast<size_t>(nChannels));
        if (!whole && !words.Next(word))
            break;
        std::time_t t = 0;
        if (!timestamps.Read(word, t)) {
            end.m_bStopped = true;
            end.m_message = "Bad Date Format";
            end.m_word = word;
            return;
        }
        if (!hasStart) {
            hasStart = true;
            timeStart = t;
        }
        if (!sink.Room(end.m_nRows)) {
            end.m_bFull = true;
            return;
        }
        const auto elapsed = static_cast<float>(t - timeStart);
        if (whole) {
            for (size_t j = 0; j < static_cast<size_t>(nChannels); ++j)
                sink.Put(j, end.m_nRows, CGraphData{elapsed, quick[j]});
            ++end.m_nRows;
            sink.RowDone(end.m_nRows, words);
            continue;
        }
        for (int64_t j = 0; j < nChannels; ++j) {
            float value = 0.0f;
            const CWordReader::Reading reading = words.NextReading(value, word);
            if (reading != CWordReader::Reading::kNumber) {
                end.m_nPartial = static_cast<int>(std::min(j, kept));
                if (reading == CWordReader::Reading::kEnd) {
                    end.m_bInRow = true;
                } else {
                    end.m_bStopped = true;
                    end.m_message = "Bad Value Format";
                    end.m_word = word;
                }
                return;
            }
            if (j < kept)
                sink.Put(static_cast<size_t>(j), end.m_nRows, CGraphData{elapsed, value});
        }
        ++end.m_nRows;
        sink.RowDone(end.m_nRows, words);
    }
}

// Reads the rows of [dataStart, end of source) in `pieces` pieces at once, split at line ends,
// into `data` (its header read): each piece into its own part of the series, which are then
// closed up in file order. False, with the series empty, when the rows do not keep to the
// pieces' lines (a row across a piece's end, two rows on a line) or the first word is no date:
// the caller then reads them in one piece.
bool ReadRowsInPieces(CByteSource& source, uint64_t dataStart, unsigned pieces, size_t chunk,
                      CAcquisitionData& data, CLoadProgress* progress, CReadFailure& failure);

// Reading the rows of a large file on every core: the file is split at line ends, each piece is
// read by its own reader straight into its part of the series, and the parts are closed up in
// file order. A row is looked for at the start of each piece; where the previous piece did not
// end with a whole row, the guess was wrong and the rows are read again in one piece.

#include "acquisition/AcquisitionRows.h"
#include "link/ParallelWork.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <functional>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include <sys/mman.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

bool Cancelled(CLoadProgress* progress, CReadFailure& failure) {
    if (progress && progress->m_bCancel.load())
        failure.m_bCancelled = true;
    return failure.Any();
}

void Failed(CReadFailure& failure, int error) {
    int none = 0;
    failure.m_nError.compare_exchange_strong(none, error != 0 ? error : EIO);
}

struct CPiece {
    uint64_t m_nBegin = 0;
    uint64_t m_nEnd = 0;
    int64_t m_nLines = 0; // its line feeds
    bool m_bOpen = false; // its last byte is not a line feed
    int64_t m_nSlot = 0;  // its first row in the series
    int64_t m_nSlots = 0; // the rows it has room for
    CRowsEnd m_rows;
};

// Pieces of [dataStart, size) of about equal size, each but the last ending with a line feed.
std::vector<CPiece> SplitAtLines(CByteSource& source, uint64_t dataStart, unsigned pieces,
                                 CReadFailure& failure) {
    const uint64_t size = source.Size();
    std::vector<CPiece> split;
    std::vector<char> window(64 * 1024);
    uint64_t begin = dataStart;
    for (unsigned k = 1; k < pieces && begin < size; ++k) {
        const uint64_t share = (size - dataStart) / pieces;
        uint64_t at = std::max(begin, dataStart + share * k);
        uint64_t next = size;
        while (at < size) {
            const long n =
                source.ReadAt(at, window.data(),
                              static_cast<size_t>(std::min<uint64_t>(window.size(), size - at)));
            if (n <= 0) {
                if (n < 0)
                    Failed(failure, errno);
                return {};
            }
            if (const void* lf = std::memchr(window.data(), '\n', static_cast<size_t>(n))) {
                next = at + static_cast<uint64_t>(static_cast<const char*>(lf) - window.data()) + 1;
                break;
            }
            at += static_cast<uint64_t>(n);
        }
        if (next >= size)
            break;
        split.emplace_back();
        split.back().m_nBegin = begin;
        split.back().m_nEnd = next;
        begin = next;
    }
    if (begin < size) {
        split.emplace_back();
        split.back().m_nBegin = begin;
        split.back().m_nEnd = size;
    }
    return split;
}

// Line feeds in [text, text + size), sixteen bytes at a time where the processor can: each lane
// counts its own up to 255, then the lanes are summed.
int64_t LineFeeds(const char* text, size_t size) {
    int64_t count = 0;
    size_t i = 0;
#ifdef __SSE2__
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i zero = _mm_setzero_si128();
    while (i + 16 <= size) {
        __m128i lanes = zero;
        for (int n = 0; n < 255 && i + 16 <= size; ++n, i += 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
            lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(bytes, lf));
        }
        const __m128i sums = _mm_sad_epu8(lanes, zero);
        count += _mm_cvtsi128_si64(sums) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums));
    }
#endif
    return count + std::count(text + i, text + size, '\n');
}

void CountLines(CByteSource& source, CPiece& piece, size_t chunk, CLoadProgress* progress,
                CReadFailure& failure) {
    std::vector<char> buffer(
        static_cast<size_t>(std::min<uint64_t>(chunk, piece.m_nEnd - piece.m_nBegin)));
    char last = '\n';
    for (uint64_t at = piece.m_nBegin; at < piece.m_nEnd;) {
        if (Cancelled(progress, failure))
            return;
        const long n = source.ReadAt(
            at, buffer.data(),
            static_cast<size_t>(std::min<uint64_t>(buffer.size(), piece.m_nEnd - at)));
        if (n <= 0) {
            if (n < 0)
                Failed(failure, errno);
            break;
        }
        piece.m_nLines += LineFeeds(buffer.data(), static_cast<size_t>(n));
        last = buffer[static_cast<size_t>(n) - 1];
        at += static_cast<uint64_t>(n);
    }
    piece.m_bOpen = last != '\n';
}

// Rows written into the piece's own part of the series.
class CSlotSink {
public:
    CSlotSink(CAcquisitionData& data, int64_t kept, const CPiece& piece)
        : m_nSlots(piece.m_nSlots) {
        for (int64_t j = 0; j < kept; ++j)
            m_series[static_cast<size_t>(j)] =
                data.m_series[static_cast<size_t>(j)].data() + piece.m_nSlot;
    }
    bool Room(int64_t row) const { return row < m_nSlots; }
    void Put(size_t series, int64_t row, CGraphData point) { m_series[series][row] = point; }
    void RowDone(int64_t, const CWordReader&) {}

private:
    std::array<CGraphData*, CAcquisitionData::kSeries> m_series{};
    int64_t m_nSlots;
};

void ClearSeries(CAcquisitionData& data) {
    for (auto& series : data.m_series)
        std::vector<CGraphData>().swap(series);
}

} // namespace

CWordReader::Fill ReadRange(CByteSource& source, uint64_t begin, uint64_t end,
                            CLoadProgress* progress, bool counted, CReadFailure& failure) {
    return [&source, at = begin, end, progress, counted, &failure](char* to,
                                                                   size_t size) mutable -> long {
        if (at >= end)
            return 0;
        if (Cancelled(progress, failure))
            return -1;
        const long n =
            source.ReadAt(at, to, static_cast<size_t>(std::min<uint64_t>(size, end - at)));
        if (n < 0)
            Failed(failure, errno);
        if (n > 0) {
            at += static_cast<uint64_t>(n);
            if (progress && counted)
                progress->m_nBytesRead += static_cast<uint64_t>(n);
        }
        return n;
    };
}

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

bool ReadRowsInPieces(CByteSource& source, uint64_t dataStart, unsigned pieces, size_t chunk,
                      CAcquisitionData& data, CLoadProgress* progress, CReadFailure& failure) {
    const uint64_t size = source.Size();
    // Every piece needs the time of the first row, its seconds' origin.
    std::time_t timeStart = 0;
    {
        CWordReader first(ReadRange(source, dataStart, size, progress, false, failure), 4096);
        std::string_view word;
        CTimestampReader timestamps;
        if (!first.Next(word) || !timestamps.Read(word, timeStart))
            return false;
    }
    std::vector<CPiece> split = SplitAtLines(source, dataStart, pieces, failure);
    if (split.size() < 2)
        return false;
    const unsigned threads = std::max(2u, std::thread::hardware_concurrency());
    RunOnThreads(split.size(), threads,
                 [&](size_t k) { CountLines(source, split[k], chunk, progress, failure); });
    if (failure.Any())
        return false;

    // Room for one row per line, and never more than the bytes could hold: a row takes at least
    // a date of 14 characters and N readings of one character each after a separator.
    const int64_t kept = std::min<int64_t>(data.m_nChannels, CAcquisitionData::kSeries);
    const uint64_t smallestRow = 14 + 2 * std::min<uint64_t>(data.m_nChannels, size);
    int64_t slots = 0;
    for (CPiece& piece : split) {
        piece.m_nSlot = slots;
        piece.m_nSlots = std::min<int64_t>(
            piece.m_nLines + (piece.m_bOpen ? 1 : 0),
            static_cast<int64_t>((piece.m_nEnd - piece.m_nBegin) / smallestRow) + 1);
        slots += piece.m_nSlots;
    }
    // Filling tens of megabytes with zeros takes the system's page faults: on every processor.
    RunOnThreads(static_cast<size_t>(kept), threads, [&](size_t j) {
        auto& series = data.m_series[j];
        series.reserve(static_cast<size_t>(slots));
        AskForLargePages(series.data(), series.capacity() * sizeof(CGraphData));
        series.resize(static_cast<size_t>(slots));
    });

    RunOnThreads(split.size(), threads, [&](size_t k) {
        CPiece& piece = split[k];
        const size_t pieceChunk = static_cast<size_t>(
            std::min<uint64_t>(chunk, std::max<uint64_t>(1, piece.m_nEnd - piece.m_nBegin)));
        CWordReader words(ReadRange(source, piece.m_nBegin, piece.m_nEnd, progress, true, failure),
                          pieceChunk);
        CSlotSink sink(data, kept, piece);
        bool hasStart = true;
        std::time_t start = timeStart;
        ReadRows(words, data.m_nChannels, hasStart, start, sink, piece.m_rows);
    });
    if (failure.Any()) {
        ClearSeries(data);
        return false;
    }

    // Close the parts up in file order, up to the first piece that stopped.
    int64_t rows = 0;
    const CRowsEnd* last = nullptr; // the last piece closed up
    for (size_t k = 0; k < split.size(); ++k) {
        const CRowsEnd& end = split[k].m_rows;
        if (end.m_bFull || (end.m_bInRow && k + 1 < split.size())) {
            ClearSeries(data); // a row that does not keep to its lines
            return false;
        }
        if (split[k].m_nSlot != rows) {
            for (int64_t j = 0; j < kept; ++j) {
                CGraphData* series = data.m_series[static_cast<size_t>(j)].data();
                const int64_t count = end.m_nRows + (j < end.m_nPartial ? 1 : 0);
                std::memmove(series + rows, series + split[k].m_nSlot,
                             static_cast<size_t>(count) * sizeof(CGraphData));
            }
        }
        rows += end.m_nRows;
        last = &end;
        if (end.m_bStopped || end.m_bInRow)
            break;
    }
    for (int64_t j = 0; j < kept; ++j)
        data.m_series[static_cast<size_t>(j)].resize(static_cast<size_t>(rows) +
                                                     (j < last->m_nPartial ? 1 : 0));
    data.m_nLines = rows;
    data.m_bHasStart = true;
    data.m_timeStart = timeStart;
    TakeStop(*last, data);
    return true;
}

#include "acquisition/AcquisitionReader.h"

#include "acquisition/AcquisitionRows.h"
#include "link/VectorState.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kMaxNamesLine = 64 * 1024; // eight titles need far less; the rest is skipped

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
            line.substr(start, std::min(tab, line.size()) - start).substr(0, kMaxAcquisitionWord));
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

// Rows of one piece, the whole file: appended to the series.
class CAppendSink {
public:
    CAppendSink(CAcquisitionData& data, uint64_t total, uint64_t dataStart)
        : m_data(data), m_nTotal(total), m_nDataStart(dataStart) {}
    bool Room(int64_t) const { return true; }
    void Put(size_t series, int64_t, CGraphData point) { m_data.m_series[series].push_back(point); }
    void RowDone(int64_t rows, const CWordReader& words) {
        if (rows == 1)
            ReserveSeries(m_data, m_nTotal, words.Offset(), words.Offset() - m_nDataStart);
    }

private:
    CAcquisitionData& m_data;
    uint64_t m_nTotal;
    uint64_t m_nDataStart;
};

// The count, the names and the line of hyphens. False when no data can follow them.
bool ReadHeader(CWordReader& words, CAcquisitionData& data) {
    std::string_view word;
    if (!words.Next(word) || !ParseCount(word, data.m_nChannels)) {
        if (!words.Failed())
            data.m_messages.emplace_back("Bad File Format");
        data.m_bStopped = true;
        return false;
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
        return false;
    }
    if (static_cast<int64_t>(data.m_names.size()) != data.m_nChannels)
        data.m_messages.emplace_back("Bad File Format");
    return true;
}

void ReadRowsInOnePiece(CWordReader& words, uint64_t total, CAcquisitionData& data) {
    CAppendSink sink(data, total, words.Offset());
    CRowsEnd end;
    ReadRows(words, data.m_nChannels, data.m_bHasStart, data.m_timeStart, sink, end);
    data.m_nLines = end.m_nRows;
    TakeStop(end, data);
}

void Read(CByteSource& source, CAcquisitionData& data, const CReadPlan& plan,
          CLoadProgress* progress, CReadFailure& failure) {
    ClearUpperVectorHalves();
    const uint64_t size = source.Size();
    const size_t chunk = std::max<size_t>(1, plan.chunk);
    unsigned pieces = plan.pieces > 0 ? plan.pieces : std::thread::hardware_concurrency();
    if (plan.minPieceBytes > 0)
        pieces = static_cast<unsigned>(std::min<uint64_t>(pieces, size / plan.minPieceBytes));
    if (pieces <= 1) {
        // One piece: the header and the rows from the same reader, as the file goes.
        CWordReader words(ReadRange(source, 0, size, progress, true, failure), chunk);
        if (ReadHeader(words, data))
            ReadRowsInOnePiece(words, size, data);
        return;
    }
    uint64_t dataStart = 0;
    {
        CWordReader words(ReadRange(source, 0, size, progress, false, failure),
                          std::min<size_t>(chunk, 64 * 1024));
        if (!ReadHeader(words, data))
            return;
        dataStart = words.Offset();
    }
    if (progress)
        progress->m_nBytesRead += dataStart; // the pieces count the rest
    if (ReadRowsInPieces(source, dataStart, pieces, chunk, data, progress, failure) ||
        failure.Any())
        return;
    // The rows do not keep to the lines: read them again, in one piece.
    if (progress)
        progress->m_nBytesRead = dataStart;
    CWordReader words(ReadRange(source, dataStart, size, progress, true, failure), chunk);
    ReadRowsInOnePiece(words, size, data);
}

class CTextSource : public CByteSource {
public:
    explicit CTextSource(std::string_view text) : m_text(text) {}
    long ReadAt(uint64_t offset, char* to, size_t size) override {
        if (offset >= m_text.size())
            return 0;
        const size_t n = std::min<size_t>(size, m_text.size() - static_cast<size_t>(offset));
        std::memcpy(to, m_text.data() + offset, n);
        return static_cast<long>(n);
    }
    uint64_t Size() const override { return m_text.size(); }

private:
    std::string_view m_text;
};

// A regular file, read at any offset from any thread; closed with the source.
class CFileSource : public CByteSource {
public:
    explicit CFileSource(int fd, uint64_t size) : m_fd(fd), m_nSize(size) {}
    ~CFileSource() override { ::close(m_fd); }
    CFileSource(const CFileSource&) = delete;
    CFileSource& operator=(const CFileSource&) = delete;
    long ReadAt(uint64_t offset, char* to, size_t size) override {
        for (;;) {
            const ssize_t n = ::pread(m_fd, to, size, static_cast<off_t>(offset));
            if (n < 0 && errno == EINTR)
                continue;
            return static_cast<long>(n);
        }
    }
    uint64_t Size() const override { return m_nSize; }

private:
    int m_fd;
    uint64_t m_nSize;
};

} // namespace

CAcquisitionData ReadAcquisitionText(std::string_view text) {
    return ReadAcquisitionText(text, CReadPlan{1});
}

CAcquisitionData ReadAcquisitionText(std::string_view text, const CReadPlan& plan) {
    CAcquisitionData data;
    CTextSource source(text);
    CReadFailure failure;
    Read(source, data, plan, nullptr, failure);
    return data;
}

bool LoadAcquisitionFile(const std::string& path, CAcquisitionData& data, std::string& error,
                         CLoadProgress* progress, const CReadPlan& plan) {
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
    CFileSource source(fd, static_cast<uint64_t>(status.st_size));
    if (progress)
        progress->m_nTotalBytes = source.Size();
    CReadFailure failure;
    try {
        Read(source, data, plan, progress, failure);
    } catch (const std::bad_alloc&) {
        data = CAcquisitionData();
        error = "Unable to read " + path + ": not enough memory";
        return false;
    }
    if (failure.m_bCancelled) {
        data = CAcquisitionData();
        error = "Loading " + path + " cancelled";
        return false;
    }
    if (failure.m_nError != 0) {
        error = "Unable to read " + path + ": " + std::strerror(failure.m_nError);
        return false;
    }
    return true;
}

#pragma once
// The acquisition file, as written: its name, its header and its data lines, and the writer that
// puts each piece on disk whole. Tab-separated single-byte text with CR LF line ends:
//
//   N                       channel count
//   \tTitle1\tTitle2\t      the recorded channels' titles in position order
//   ----...---- (82)        separator
//   (empty line)            only in files started by hand
//   dd/mm/YYYY-HH:MM:SS\tr1\tr2\t    one line per sampling tick, readings "%g" in W
//
// Numbers never depend on the process locale: a point is the decimal separator, always.

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// prefix + local time "%Y%d%m_%H%M%S" + ".txt" (year, day, month: the files' traditional order).
std::string AcquisitionFileName(const std::string& prefix, std::time_t start);
// The name of the `n`th run that starts in the same second (n from 2): "_n" before the last
// ".txt" of AcquisitionFileName; n 1 is AcquisitionFileName itself.
std::string AcquisitionFileName(const std::string& prefix, std::time_t start, int n);

// Lines 1 to 3, and the empty line 4 of a file started by hand.
std::string AcquisitionHeader(const std::vector<std::string>& titles, bool startedByHand);

// One data line: the local time of the tick, then each reading and a tab, then CR LF.
std::string AcquisitionDataLine(std::time_t tick, const std::vector<float>& readings);
// The same, appended to `line` (no allocation once `line` has grown to a line's size).
void AppendAcquisitionDataLine(std::string& line, std::time_t tick,
                               const std::vector<float>& readings);

// "%g" of the reading widened to double: 6 significant digits, "1.5e-05", "-0", "inf".
std::string FormatAcquisitionReading(float reading);

// The messages that name the file and the system's reason.
std::string CreateFailureText(const std::string& path, int error);
std::string WriteFailureText(const std::string& path, int error);

// Writes one acquisition file. Each Append is one piece (a header, a line) that is either on disk
// whole or not there at all: a write that fails half-way is cut back to the last whole piece, so
// no reader ever meets half a line. With `durable`, each piece is also forced to the disk, so a
// power cut loses at most the line in progress.
class CAcquisitionFileWriter {
public:
    CAcquisitionFileWriter() = default;
    ~CAcquisitionFileWriter();
    CAcquisitionFileWriter(CAcquisitionFileWriter&& other) noexcept;
    CAcquisitionFileWriter& operator=(CAcquisitionFileWriter&& other) noexcept;
    CAcquisitionFileWriter(const CAcquisitionFileWriter&) = delete;
    CAcquisitionFileWriter& operator=(const CAcquisitionFileWriter&) = delete;

    // Creates the file (or empties it). False with `error` naming the file and the reason.
    bool Create(const std::string& path, std::string& error);
    // Creates the file only if no file has that name: false with `taken` set when one has (and
    // nothing is touched), or with `error` for any other reason.
    bool CreateNew(const std::string& path, bool& taken, std::string& error);
    bool Append(const std::string& piece, std::string& error, bool durable = true);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }
    const std::string& Path() const { return m_path; }

private:
    int m_fd = -1;
    std::string m_path;
    int64_t m_nWholeSize = 0; // bytes of the pieces written whole
};

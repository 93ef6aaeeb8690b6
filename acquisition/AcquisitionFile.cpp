#include "acquisition/AcquisitionFile.h"

#include "link/NumberText.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace {

std::string LocalTimeText(std::time_t t, const char* format) {
    std::tm local{};
    localtime_r(&t, &local);
    char text[64];
    const size_t n = std::strftime(text, sizeof text, format, &local);
    return std::string(text, n);
}

// Two digits of a field that is 0 to 99.
void AppendTwoDigits(std::string& out, int value) {
    out += static_cast<char>('0' + value / 10 % 10);
    out += static_cast<char>('0' + value % 10);
}

} // namespace

std::string AcquisitionFileName(const std::string& prefix, std::time_t start) {
    return prefix + LocalTimeText(start, "%Y%d%m_%H%M%S") + ".txt";
}

std::string AcquisitionFileName(const std::string& prefix, std::time_t start, int n) {
    std::string name = AcquisitionFileName(prefix, start);
    if (n > 1)
        name.insert(name.size() - 4, "_" + std::to_string(n)); // before the ".txt" just added
    return name;
}

std::string AcquisitionHeader(const std::vector<std::string>& titles, bool startedByHand) {
    std::string header = std::to_string(titles.size()) + "\r\n\t";
    for (const std::string& title : titles)
        header += title + "\t";
    header += "\r\n" + std::string(82, '-') + "\r\n";
    if (startedByHand)
        header += "\r\n";
    return header;
}

std::string FormatAcquisitionReading(float reading) {
    return FormatG(static_cast<double>(reading), 6);
}

void AppendAcquisitionDataLine(std::string& line, std::time_t tick,
                               const std::vector<float>& readings) {
    std::tm local{};
    localtime_r(&tick, &local);
    // "%d/%m/%Y-%H:%M:%S" by hand: strftime would cost more than the rest of the line.
    AppendTwoDigits(line, local.tm_mday);
    line += '/';
    AppendTwoDigits(line, local.tm_mon + 1);
    line += '/';
    const long long year = 1900LL + local.tm_year;
    if (year >= 1000 && year <= 9999)
        line += std::to_string(year);
    else
        line += LocalTimeText(tick, "%Y"); // strftime's own width outside four digits
    line += '-';
    AppendTwoDigits(line, local.tm_hour);
    line += ':';
    AppendTwoDigits(line, local.tm_min);
    line += ':';
    AppendTwoDigits(line, local.tm_sec);
    line += '\t';
    for (float reading : readings) {
        line += FormatAcquisitionReading(reading);
        line += '\t';
    }
    line += "\r\n";
}

std::string AcquisitionDataLine(std::time_t tick, const std::vector<float>& readings) {
    std::string line;
    AppendAcquisitionDataLine(line, tick, readings);
    return line;
}

std::string CreateFailureText(const std::string& path, int error) {
    return "Unable to create the acquisition file " + path + ": " + std::strerror(error);
}

std::string WriteFailureText(const std::string& path, int error) {
    return "Unable to write to the acquisition file " + path + ": " + std::strerror(error);
}

CAcquisitionFileWriter::~CAcquisitionFileWriter() {
    Close();
}

CAcquisitionFileWriter::CAcquisitionFileWriter(CAcquisitionFileWriter&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_path(std::move(other.m_path)),
      m_nWholeSize(other.m_nWholeSize) {}

CAcquisitionFileWriter& CAcquisitionFileWriter::operator=(CAcquisitionFileWriter&& other) noexcept {
    if (this != &other) {
        Close();
        m_fd = std::exchange(other.m_fd, -1);
        m_path = std::move(other.m_path);
        m_nWholeSize = other.m_nWholeSize;
    }
    return *this;
}

bool CAcquisitionFileWriter::Create(const std::string& path, std::string& error) {
    Close();
    m_path = path;
    m_nWholeSize = 0;
    m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (m_fd < 0) {
        error = CreateFailureText(path, errno);
        return false;
    }
    return true;
}

bool CAcquisitionFileWriter::CreateNew(const std::string& path, bool& taken, std::string& error) {
    Close();
    m_path = path;
    m_nWholeSize = 0;
    taken = false;
    m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (m_fd < 0) {
        taken = errno == EEXIST;
        error = CreateFailureText(path, errno);
        return false;
    }
    return true;
}

bool CAcquisitionFileWriter::Append(const std::string& piece, std::string& error, bool durable) {
    if (m_fd < 0) {
        error = WriteFailureText(m_path, EBADF);
        return false;
    }
    size_t done = 0;
    while (done < piece.size()) {
        const ssize_t n = ::pwrite(m_fd, piece.data() + done, piece.size() - done,
                                   static_cast<off_t>(m_nWholeSize + static_cast<int64_t>(done)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int code = n < 0 ? errno : ENOSPC;
            // Half a piece would shift every later column for a reader: take it back.
            if (done > 0 && ::ftruncate(m_fd, static_cast<off_t>(m_nWholeSize)) != 0) {
                // The cut failed too; the next piece overwrites the half one all the same.
            }
            error = WriteFailureText(m_path, code);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    m_nWholeSize += static_cast<int64_t>(piece.size());
    if (durable && ::fdatasync(m_fd) != 0) {
        error = WriteFailureText(m_path, errno);
        return false; // written, but perhaps not on the disk: say so, and keep it
    }
    return true;
}

void CAcquisitionFileWriter::Close() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

#include "link/LineBuffer.h"

#include "link/NumberText.h"

#include <algorithm>
#include <cstring>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view text) {
    size_t first = 0;
    while (first < text.size() && IsBlank(text[first]))
        ++first;
    size_t last = text.size();
    while (last > first && IsBlank(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

} // namespace

void CLineBuffer::Append(const char* data, size_t length) {
    const void* zero = std::memchr(data, '\0', length);
    const size_t kept = zero ? static_cast<size_t>(static_cast<const char*>(zero) - data) : length;
    m_strBuffer.append(data, kept);
    // Only bytes after the zero byte are lost; a zero byte that ends the chunk loses nothing.
    // The gap is marked in the text by a zero byte, which received text never holds: the line
    // that ends up holding it is dropped, however many gaps and chunks come before its CR LF.
    if (kept + 1 < length)
        m_strBuffer.push_back(kGapMark);
}

bool CLineBuffer::TakeLine(std::string_view& line) {
    for (;;) {
        // The front never keeps white space: an empty line, or CR LF before the first line,
        // would otherwise stand at the front with nothing before it and stall the buffer.
        while (!m_bDiscarding && m_nStart < m_strBuffer.size() && IsBlank(m_strBuffer[m_nStart]))
            ++m_nStart;
        // The search resumes where the last one ended: scanning the unfinished line again for
        // every chunk would take quadratic time on a long line that arrives a few bytes at a time.
        const size_t end = m_strBuffer.find(m_strDelimiter, std::max(m_nStart, m_nSearched));
        if (end == std::string::npos) {
            // The last byte may be the first half of the delimiter.
            m_nSearched = m_strBuffer.size() - std::min<size_t>(m_strBuffer.size(), 1);
            if (m_strBuffer.size() - m_nStart > kMaxPending) {
                // Keep nothing of a line this long: its tail alone could read as a number.
                // A trailing CR may be the first half of the delimiter that ends it.
                m_bDiscarding = true;
                m_nStart = m_strBuffer.size();
                if (m_strBuffer.back() == m_strDelimiter[0])
                    --m_nStart;
            }
            Compact();
            return false;
        }
        const std::string_view raw(m_strBuffer.data() + m_nStart, end - m_nStart);
        m_nStart = end + m_strDelimiter.size();
        const bool acrossGap = raw.find(kGapMark) != std::string_view::npos;
        // Dropped: the rest of an over-long line, a line that arrived whole but over-long, and a
        // line across a gap left by a zero byte. A line of kMaxPending bytes is over-long too: its
        // CR alone, waiting for the LF, would put the pending text over the bound.
        if (m_bDiscarding || acrossGap || raw.size() >= kMaxPending) {
            m_bDiscarding = false;
            continue;
        }
        line = Trim(raw);
        return true;
    }
}

bool CLineBuffer::CalibrateLine(std::string_view line, float gain, float offset, float& value) {
    float raw = 0.0f;
    if (!ParseLeadingFloat(Trim(line), raw))
        return false;
    const float product = gain * raw; // rounded to float before the offset is added
    value = product + offset;
    return true;
}

std::string_view CLineBuffer::Pending() const {
    return std::string_view(m_strBuffer).substr(m_nStart);
}

void CLineBuffer::Clear() {
    m_strBuffer.clear();
    m_nStart = 0;
    m_bDiscarding = false;
    m_nSearched = 0;
}

void CLineBuffer::Compact() {
    // Erase what was taken once per pass, not once per line.
    m_strBuffer.erase(0, m_nStart);
    m_nSearched = m_nSearched > m_nStart ? m_nSearched - m_nStart : 0;
    m_nStart = 0;
}

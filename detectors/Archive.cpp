#include "detectors/Archive.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace {

// Lengths at which the string prefix switches to the next wider form.
constexpr uint8_t kByteEscape = 0xFF;
constexpr uint16_t kWideMarker = 0xFFFE; // the archive's marker of a UTF-16 string
constexpr uint16_t kWordEscape = 0xFFFF;

uint32_t LittleEndian32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace

void CArchiveWriter::WriteInt32(int32_t value) {
    const uint32_t bits = static_cast<uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8)
        m_bytes.push_back(static_cast<uint8_t>(bits >> shift));
}

void CArchiveWriter::WriteFloat(float value) {
    static_assert(sizeof(float) == sizeof(uint32_t), "float must be 32-bit IEEE");
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    WriteInt32(static_cast<int32_t>(bits));
}

void CArchiveWriter::WriteString(const std::string& text) {
    // The format cannot express more than 32 bits of length; no real title comes near that.
    const size_t length = std::min<size_t>(text.size(), std::numeric_limits<uint32_t>::max());
    if (length < kByteEscape) {
        m_bytes.push_back(static_cast<uint8_t>(length));
    } else {
        m_bytes.push_back(kByteEscape);
        if (length < kWideMarker) {
            m_bytes.push_back(static_cast<uint8_t>(length));
            m_bytes.push_back(static_cast<uint8_t>(length >> 8));
        } else {
            m_bytes.push_back(static_cast<uint8_t>(kWordEscape));
            m_bytes.push_back(static_cast<uint8_t>(kWordEscape >> 8));
            WriteInt32(static_cast<int32_t>(static_cast<uint32_t>(length)));
        }
    }
    m_bytes.insert(m_bytes.end(), text.begin(), text.begin() + static_cast<ptrdiff_t>(length));
}

bool CArchiveReader::Take(void* out, size_t count) {
    if (count > Remaining()) {
        m_error = "the data ends before the end of the record";
        return false;
    }
    if (count > 0)
        std::memcpy(out, m_data + m_pos, count);
    m_pos += count;
    return true;
}

bool CArchiveReader::ReadInt32(int32_t& value) {
    uint8_t raw[4];
    if (!Take(raw, sizeof raw))
        return false;
    value = static_cast<int32_t>(LittleEndian32(raw));
    return true;
}

bool CArchiveReader::ReadFloat(float& value) {
    uint8_t raw[4];
    if (!Take(raw, sizeof raw))
        return false;
    const uint32_t bits = LittleEndian32(raw);
    std::memcpy(&value, &bits, sizeof value);
    return true;
}

bool CArchiveReader::ReadString(std::string& text) {
    // A failed read leaves the position where it was, so the caller sees a reader that consumed
    // nothing.
    const size_t start = m_pos;
    auto fail = [&](std::string reason) {
        m_pos = start;
        if (!reason.empty())
            m_error = std::move(reason);
        return false;
    };

    uint8_t first = 0;
    if (!Take(&first, 1))
        return fail("");
    uint32_t length = first;
    if (first == kByteEscape) {
        uint8_t word[2];
        if (!Take(word, sizeof word))
            return fail("");
        const uint16_t wide = static_cast<uint16_t>(word[0] | word[1] << 8);
        if (wide == kWideMarker)
            return fail("the text is stored as a wide (UTF-16) string, which this record never "
                        "holds");
        length = wide;
        if (wide == kWordEscape) {
            uint8_t dword[4];
            if (!Take(dword, sizeof dword))
                return fail("");
            length = LittleEndian32(dword);
        }
    }
    if (length > Remaining())
        return fail("the text length " + std::to_string(length) + " is larger than the " +
                    std::to_string(Remaining()) + " bytes that remain");
    text.assign(reinterpret_cast<const char*>(m_data + m_pos), length);
    m_pos += length;
    return true;
}

#pragma once
// A small binary writer and reader producing the archive byte format of the channel records:
// little-endian numbers and length-prefixed single-byte strings.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class CArchiveWriter {
public:
    void WriteInt32(int32_t value);
    void WriteFloat(float value);
    // Length prefix (1 byte below 255; 0xFF + 16 bits below 0xFFFE; 0xFF, 0xFFFF + 32 bits),
    // then the bytes, no terminator.
    void WriteString(const std::string& text);

    const std::vector<uint8_t>& Bytes() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
};

class CArchiveReader {
public:
    CArchiveReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    // Each returns false, leaving `value` untouched, when the data ends early or is malformed.
    bool ReadInt32(int32_t& value);
    bool ReadFloat(float& value);
    bool ReadString(std::string& text);

    size_t Remaining() const { return m_size - m_pos; }
    // Why the last read failed.
    const std::string& Error() const { return m_error; }
    // Marks the data as unusable for a reason found by the caller (a value out of its domain).
    void SetError(std::string reason) { m_error = std::move(reason); }

private:
    bool Take(void* out, size_t count);

    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
    std::string m_error;
};

// Fuzzes the decoder of the per-detector configuration record: any bytes a damaged or foreign
// file holds. A failed decode must leave the record exactly as it was; a successful one must
// encode and decode again to the same fields. Records are read one after the other from the
// same bytes, so a record already loaded is the one a later failure must keep.

#include "detectors/Archive.h"
#include "detectors/ChannelConfig.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Everything after the title: position, gain, offset, high and low levels, wavelength, flag.
constexpr size_t kNumbersSize = 7 * 4;

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "configuration record fuzz: %s\n", what);
        std::abort();
    }
}

bool SameBits(float a, float b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool SameRecord(const CChannelConfig& a, const CChannelConfig& b) {
    return a.m_strSerial == b.m_strSerial && a.m_strName == b.m_strName &&
           a.m_strTitle == b.m_strTitle && a.m_strPort == b.m_strPort &&
           SameBits(a.m_fGain, b.m_fGain) && SameBits(a.m_fOffset, b.m_fOffset) &&
           a.m_nWavelength == b.m_nWavelength && SameBits(a.m_fLevelHigh, b.m_fLevelHigh) &&
           SameBits(a.m_fLevelLow, b.m_fLevelLow) && a.m_nPosition == b.m_nPosition &&
           a.m_bAnticipation == b.m_bAnticipation;
}

std::vector<uint8_t> Encode(const CChannelConfig& config) {
    CArchiveWriter writer;
    config.Serialize(writer);
    return writer.Bytes();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Fields that do not come from the file, and non-default persistent ones, so that a decode
    // that touched them would show.
    CChannelConfig config;
    config.m_strSerial = "KV2401";
    config.m_strName = "KV-30A";
    config.m_strPort = "ttyUSB0";
    config.m_strTitle = "previous";
    config.m_fGain = 2.5f;
    config.m_nPosition = 3;
    config.m_bAnticipation = false;

    CArchiveReader reader(data, size);
    for (;;) {
        const size_t remaining = reader.Remaining();
        Check(remaining <= size, "reader position beyond the data");
        const CChannelConfig before = config;
        if (!config.Serialize(reader)) {
            Check(SameRecord(config, before), "a failed decode changed the record");
            Check(!reader.Error().empty(), "a failed decode gave no reason");
            break;
        }
        const size_t consumed = remaining - reader.Remaining();
        Check(consumed >= kNumbersSize + 1 && consumed <= remaining, "record size out of range");
        Check(config.m_strSerial == before.m_strSerial && config.m_strName == before.m_strName &&
                  config.m_strPort == before.m_strPort,
              "the decode touched a field that is not stored");

        // Encoding is canonical: never longer than what was read, and the same bytes when the
        // title had its shortest length prefix and the anticipation flag was 0 or 1.
        const std::vector<uint8_t> encoded = Encode(config);
        Check(encoded.size() <= consumed, "re-encoded record longer than the original");
        const uint8_t* record = data + (size - remaining);
        const size_t title = config.m_strTitle.size();
        const size_t prefix = consumed - kNumbersSize - title;
        Check(prefix == 1 || prefix == 3 || prefix == 7, "length prefix of an unknown form");
        const size_t shortest = title < 0xFF ? 1 : title < 0xFFFE ? 3 : 7;
        const uint8_t* flag = record + consumed - 4;
        const bool plainFlag = flag[1] == 0 && flag[2] == 0 && flag[3] == 0 && flag[0] <= 1;
        if (prefix == shortest && plainFlag)
            Check(encoded.size() == consumed && std::memcmp(encoded.data(), record, consumed) == 0,
                  "a canonical record does not re-encode to the same bytes");

        CChannelConfig again = before;
        CArchiveReader second(encoded.data(), encoded.size());
        Check(again.Serialize(second), "a re-encoded record does not decode");
        Check(second.Remaining() == 0, "a re-encoded record leaves bytes over");
        Check(SameRecord(again, config), "the round trip changed a field");
    }
    return 0;
}

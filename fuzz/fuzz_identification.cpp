// Fuzzes what is made of a meter's identification replies: the serial number cut from the reply,
// the trimming of trailing white space, and the file name the serial number turns into (a
// meter's reply must never name a file outside the configuration folder).
//
// Input: the reply, as ReadReply returns it (up to the first zero byte, at most the reply
// buffer less one).

#include "detectors/ChannelConfigFile.h"
#include "link/DetectorProtocol.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "identification fuzz: %s\n", what);
        std::abort();
    }
}

bool IsTrailingBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

void CheckTrimRight(const std::string& text) {
    const std::string trimmed = DetectorProtocol::TrimRight(text);
    Check(trimmed.size() <= text.size(), "trimming grew the text");
    Check(text.compare(0, trimmed.size(), trimmed) == 0, "trimmed text is not a prefix");
    Check(trimmed.empty() || !IsTrailingBlank(trimmed.back()), "trailing blank left");
    for (size_t i = trimmed.size(); i < text.size(); ++i)
        Check(IsTrailingBlank(text[i]), "trimming removed more than white space");
    Check(DetectorProtocol::TrimRight(trimmed) == trimmed, "trimming twice changes the text");
}

void CheckSerial(const std::string& reply) {
    const std::string serial = DetectorProtocol::SerialFromReply(reply);
    if (reply.size() < 4)
        Check(serial.empty(), "a reply shorter than its header gave a serial number");
    else
        Check(serial == reply.substr(4), "the serial number is not the reply without its header");
}

bool IsReservedDeviceName(const std::string& name) {
    std::string upper;
    for (char c : name)
        upper += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL" || upper == "CONIN$")
        return true;
    return upper.size() == 4 &&
           (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0) &&
           upper[3] >= '1' && upper[3] <= '9';
}

void CheckFileStem(const std::string& serial) {
    const std::string stem = ConfigFileStem(serial);
    Check(stem.empty() == serial.empty(), "file stem empty for a serial number or the reverse");
    Check(stem.size() <= 7, "file stem longer than six characters and a guard");
    Check(stem != "." && stem.find("..") == std::string::npos, "file stem climbs folders");
    for (char c : stem) {
        const unsigned char u = static_cast<unsigned char>(c);
        Check(u >= 0x20 && u < 0x7F && std::strchr("/\\<>:\"|?*", c) == nullptr,
              "unsafe character in a file stem");
    }
    Check(!IsReservedDeviceName(stem), "file stem is a reserved device name");

    // Ordinary serial numbers (letters, digits, '-' and '_') keep their first six characters.
    const std::string head = serial.substr(0, 6);
    bool ordinary = !IsReservedDeviceName(head);
    for (char c : head)
        ordinary = ordinary && ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                                (c >= 'a' && c <= 'z') || c == '-' || c == '_');
    if (ordinary)
        Check(stem == head, "an ordinary serial number was changed");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    const size_t length =
        std::min<size_t>(strnlen(text, size), DetectorProtocol::kReplyBufferSize - 1);
    const std::string reply(text, length);

    CheckSerial(reply);
    CheckTrimRight(reply);
    // The probe trims the serial number; the identify command keeps it as received. Both end up
    // naming the configuration file.
    const std::string serial = DetectorProtocol::SerialFromReply(reply);
    const std::string trimmedSerial = DetectorProtocol::TrimRight(serial);
    CheckTrimRight(serial);
    CheckFileStem(serial);
    CheckFileStem(trimmedSerial);
    return 0;
}

// Catalogue of bad replies to the name ("*NAM") and serial number ("*SNN") requests. The serial
// number is the reply without its 4-character header; the probe then removes trailing white space
// (TrimRight), while the identification of a connected pane keeps the reply as received. A row is
// the reply, the serial number kept by the pane and the one the probe shows:
//   empty, 1 to 3 characters   no serial number: no configuration file is looked for
//   exactly 4 characters       no serial number
//   binary bytes               kept byte for byte (the file name replaces them, see below)
//   only white space           the pane keeps it; the probe has no serial number
//   CR LF inside               the pane keeps it; the probe trims only the end
//   a reading of the stream    read as a serial number: the meter was still streaming
//   the longest reply read     kept whole
//   name of blanks only        the probe shows no name
// The file each such serial number names stays inside the configuration folder; that is checked
// with the stored files in tests/detectors/BadConfigFileTest.cpp, as the serial layer does not
// know the configuration files.

#include "link/DetectorProtocol.h"

#include <gtest/gtest.h>

#include <string>

namespace Protocol = DetectorProtocol;

namespace {

using namespace std::string_literals;

struct Row {
    std::string reply;
    std::string kept;    // SerialFromReply
    std::string trimmed; // TrimRight(SerialFromReply)
};

TEST(BadIdentification, EachBadReplyGivesTheListedSerialNumbers) {
    const std::string longest(Protocol::kReplyBufferSize - 1 - 4, 'K'); // the longest reply read
    const Row rows[] = {
        {"", "", ""},
        {"S", "", ""},
        {"\r\n\r", "", ""},
        {"SN\r\n", "", ""},
        {"S/N \x01\xFF\x80K\x7F"s, "\x01\xFF\x80K\x7F", "\x01\xFF\x80K\x7F"},
        {"S/N  \t\r\n \r\n", " \t\r\n \r\n", ""},
        {"S/N KV\r\n24\t01\r\n", "KV\r\n24\t01\r\n", "KV\r\n24\t01"},
        {"1.234E-03\r\n5.6", "4E-03\r\n5.6", "4E-03\r\n5.6"},
        {"S/N " + longest, longest, longest},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Protocol::SerialFromReply(row.reply), row.kept) << row.reply;
        EXPECT_EQ(Protocol::TrimRight(Protocol::SerialFromReply(row.reply)), row.trimmed)
            << row.reply;
    }
    // The name reply goes through TrimRight alone.
    EXPECT_EQ(Protocol::TrimRight(" \t \r\n"), "");
    EXPECT_EQ(Protocol::TrimRight("\r\nPM\r\n"), "\r\nPM");
}

} // namespace

// The RFC 2217 client's codec against the server's bytes written out by hand: the negotiation
// it opens with, the line settings once the server accepts the option and the check of every
// answer, IAC in the data both ways, notifications consumed, each sequence split at every byte,
// and a server that refuses the option or a setting.

#include "link/Rfc2217Codec.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string IAC = "\xff", SB = "\xfa", SE = "\xf0", DO = "\xfd", DONT = "\xfe", WILL = "\xfb";
const std::string COMPORT = ",";   // 44
const std::string BINARY("\0", 1); // 0
const std::string SGA = "\x03";

std::string Sub(const std::string& body) {
    return IAC + SB + COMPORT + body + IAC + SE;
}

// What a server that accepts everything as asked answers, with a line-state notification among
// the answers and data (an IAC doubled) right after them.
std::string AcceptingServer() {
    return IAC + DO + BINARY + IAC + WILL + BINARY + IAC + DO + SGA + IAC + WILL + SGA + IAC + DO +
           COMPORT + Sub(std::string("\x65\x00\x00\xe1\x00", 5)) + Sub("\x66\x08") +
           Sub("\x6a\x60") + Sub("\x67\x01") + Sub("\x68\x01") + Sub("\x69\x01") + "1.5E-03\r\n" +
           IAC + IAC + "x";
}

TEST(Rfc2217Codec, NegotiatesTheLineChecksTheAnswersAndUndoesIacAcrossEverySplit) {
    const std::string server = AcceptingServer();
    for (size_t split = 0; split <= server.size(); ++split) {
        CRfc2217Codec codec;
        codec.Start();
        const std::string opening = codec.TakeOutput();
        EXPECT_EQ(opening, IAC + WILL + BINARY + IAC + DO + BINARY + IAC + WILL + SGA + IAC + DO +
                               SGA + IAC + WILL + COMPORT);
        codec.Feed(server.data(), split);
        codec.Feed(server.data() + split, server.size() - split);
        ASSERT_EQ(codec.GetState(), CRfc2217Codec::State::Ready) << "split at " << split;
        EXPECT_EQ(codec.TakeData(), "1.5E-03\r\n\xffx") << "split at " << split;
        const std::string settings = codec.TakeOutput();
        const std::string asked = Sub(std::string("\x01\x00\x00\xe1\x00", 5)) + Sub("\x02\x08") +
                                  Sub("\x03\x01") + Sub("\x04\x01") + Sub("\x05\x01");
        EXPECT_NE(settings.find(asked), std::string::npos) << "split at " << split;
    }

    CRfc2217Codec codec;
    codec.Start();
    codec.Feed(server.data(), server.size());
    codec.TakeOutput();
    codec.SendData("*N\xff", 3);
    EXPECT_EQ(codec.TakeOutput(), "*N" + IAC + IAC);
    codec.PurgeReceived();
    EXPECT_EQ(codec.TakeOutput(), Sub("\x0c\x01"));
}

TEST(Rfc2217Codec, AServerThatRefusesTheOptionOrASettingIsToldWhat) {
    CRfc2217Codec refusing;
    refusing.Start();
    const std::string dont = IAC + DONT + COMPORT;
    refusing.Feed(dont.data(), dont.size());
    EXPECT_EQ(refusing.GetState(), CRfc2217Codec::State::Refused);
    EXPECT_EQ(refusing.Refusal(), "refused the COM-PORT-OPTION");

    CRfc2217Codec slower;
    slower.Start();
    const std::string answers = IAC + DO + COMPORT + Sub(std::string("\x65\x00\x00\x25\x80", 5));
    slower.Feed(answers.data(), answers.size());
    EXPECT_EQ(slower.GetState(), CRfc2217Codec::State::Refused);
    EXPECT_EQ(slower.Refusal(), "set the baud rate to 9600 instead of 57600");

    CRfc2217Codec silent; // a server that never answers stays negotiating: the caller's limit
    silent.Start();
    const std::string data = "no telnet here\r\n";
    silent.Feed(data.data(), data.size());
    EXPECT_EQ(silent.GetState(), CRfc2217Codec::State::Negotiating);
}

} // namespace

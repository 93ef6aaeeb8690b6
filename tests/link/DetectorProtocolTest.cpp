#include "link/DetectorProtocol.h"
#include "link/ComAccess.h"
#include "support/PtyPair.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace Protocol = DetectorProtocol;

namespace {

TEST(DetectorProtocol, WavelengthCommandIsRightAlignedInFiveCharacters) {
    EXPECT_EQ(Protocol::WavelengthCommand(1064), "*PWC 1064");
    EXPECT_EQ(Protocol::WavelengthCommand(532), "*PWC  532");
    EXPECT_EQ(Protocol::WavelengthCommand(10600), "*PWC10600");
    EXPECT_EQ(Protocol::WavelengthCommand(100000), "*PWC100000");
}

TEST(DetectorProtocol, IdentificationRepliesDropTheHeaderAndTrimOnlyOnRequest) {
    EXPECT_EQ(Protocol::SerialFromReply("S/N KV2401\r\n"), "KV2401\r\n");
    EXPECT_EQ(Protocol::SerialFromReply("S/N"), "");
    EXPECT_EQ(Protocol::SerialFromReply("S/N "), "");
    EXPECT_EQ(Protocol::TrimRight(" PM 3\t\r\n "), " PM 3");
}

TEST(DetectorProtocol, ReplyIsReadUpToItsZeroByteAndNeverPastItsBuffer) {
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    ComAccess port;
    ASSERT_TRUE(port.Open(pty.SlavePath(), 57600));
    EXPECT_EQ(Protocol::ReadReply(port), "") << "nothing queued";

    pty.Send(std::string(600, 'x'));
    ASSERT_TRUE(WaitUntil([&] { return port.QueuedInputCount() >= 600; }));
    EXPECT_EQ(Protocol::ReadReply(port), std::string(Protocol::kReplyBufferSize - 1, 'x'));
    EXPECT_EQ(port.QueuedInputCount(), 600 - static_cast<int>(Protocol::kReplyBufferSize - 1));
    Protocol::ReadReply(port);

    pty.Send(std::string("PM\0junk", 7));
    ASSERT_TRUE(WaitUntil([&] { return port.QueuedInputCount() >= 7; }));
    EXPECT_EQ(Protocol::ReadReply(port), "PM");
}

TEST(DetectorProtocol, CloseSendsStopThenClosesAndPermissionHintNamesTheGroup) {
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    ComAccess port;
    ASSERT_TRUE(port.Open(pty.SlavePath(), 57600));
    Protocol::CloseMeter(port);
    EXPECT_FALSE(port.IsOpen());
    std::string sent;
    for (const auto& b : pty.Receive(4, 10000))
        sent += b.value;
    EXPECT_EQ(sent, "*CSU");

    const std::string hint =
        Protocol::PermissionHint("/dev/null", PortError::From(PortOperation::Open, EACCES));
    EXPECT_NE(hint.find("group"), std::string::npos);
    EXPECT_NE(hint.find("dialout"), std::string::npos);
    EXPECT_EQ(Protocol::PermissionHint("/dev/null", PortError::From(PortOperation::Open, ENOENT)),
              "");
}

} // namespace

#include "link/Ticks.h"

TEST(Ticks, ElapsedTimeSurvivesTheWrapAround) {
    EXPECT_EQ(TickSeconds(1500, 500), 1.0f);
    EXPECT_EQ(TickSeconds(5, 0xFFFFFFFFu - 994), 1.0f); // 995 ms before the wrap, 5 after
    EXPECT_EQ(TickSeconds(0x80000000u, 0), 2147483.648f);
    EXPECT_EQ(TickSeconds(100, 100), 0.0f);
}

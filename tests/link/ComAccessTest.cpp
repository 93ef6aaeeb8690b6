#include "link/ComAccess.h"
#include "support/PtyPair.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include <termios.h>

namespace {

TEST(ComAccess, FailedOpenLeavesPortClosedWithTheOperationAndSystemText) {
    ComAccess port;
    EXPECT_FALSE(port.Open("/dev/kelvarin-no-such-port", 57600));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.LastError().Text(), "Open(): CreateFile() failed, invalid handle value\r\n"
                                       ": (2) No such file or directory\n");
    EXPECT_EQ(port.LastError().code, ENOENT);
    EXPECT_EQ(port.LastError().kind, PortFault::Missing);

    // A device that is not a serial line: its settings cannot be read.
    EXPECT_FALSE(port.Open("/dev/null", 57600));
    EXPECT_EQ(port.LastError().Text(),
              "Open(): GetCommState() failed\r\n: (25) Inappropriate ioctl for device\n");
    EXPECT_EQ(port.LastError().kind, PortFault::Settings);
    EXPECT_FALSE(port.IsOpen());
}

TEST(ComAccess, PortIsExclusiveUntilClosed) {
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    ComAccess first, second;
    ASSERT_TRUE(first.Open(pty.SlavePath(), 57600)) << first.LastError().Text();
    EXPECT_FALSE(second.Open(pty.SlavePath(), 57600));
    EXPECT_EQ(second.LastError().Text(), "Open(): CreateFile() failed, invalid handle value\r\n"
                                         ": (16) Device or resource busy\n");
    EXPECT_EQ(second.LastError().kind, PortFault::Busy);
    first.Close();
    EXPECT_TRUE(second.Open(pty.SlavePath(), 57600)) << second.LastError().Text();
}

TEST(ComAccess, OpenSetsRaw8N1AtTheRateAndKeepsFlowControl) {
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    termios before{};
    tcgetattr(pty.Master(), &before);
    before.c_cflag |= CRTSCTS | PARENB | CSTOPB;
    before.c_iflag |= IXON | IXOFF | ICRNL;
    before.c_lflag |= ICANON | ECHO;
    ASSERT_EQ(tcsetattr(pty.Master(), TCSANOW, &before), 0);

    ComAccess port;
    ASSERT_TRUE(port.Open(pty.SlavePath(), 57600)) << port.LastError().Text();
    termios after{};
    tcgetattr(pty.Master(), &after);
    EXPECT_TRUE(after.c_cflag & CRTSCTS);
    EXPECT_TRUE(after.c_iflag & IXON);
    EXPECT_TRUE(after.c_iflag & IXOFF);
    EXPECT_EQ(after.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(after.c_cflag & (PARENB | CSTOPB));
    EXPECT_FALSE(after.c_iflag & ICRNL);
    EXPECT_FALSE(after.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_EQ(cfgetispeed(&after), static_cast<speed_t>(B57600));

    ComAccess odd;
    pty.CloseMaster();
    PtyPair other;
    EXPECT_FALSE(odd.Open(other.SlavePath(), 12345));
    EXPECT_EQ(odd.LastError().Text(), "Open(): SetCommState() failed\r\n: (22) Invalid argument\n");
}

TEST(ComAccess, WriteStringSendsOneBytePer5Ms) {
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    ComAccess port;
    ASSERT_TRUE(port.Open(pty.SlavePath(), 57600));
    int result = 0;
    std::chrono::steady_clock::duration took{};
    std::thread writer([&] {
        const auto start = std::chrono::steady_clock::now();
        result = port.WriteString("*PWC 1064");
        took = std::chrono::steady_clock::now() - start;
    });
    const auto bytes = pty.Receive(9, 10000);
    writer.join();
    EXPECT_EQ(result, 9);
    ASSERT_EQ(bytes.size(), 9u);
    std::string text;
    for (const auto& b : bytes)
        text += b.value;
    EXPECT_EQ(text, "*PWC 1064");
    // 5 ms after each byte, timed where they are written: the reader's own wake-ups would blur
    // the gaps it sees.
    EXPECT_GE(took, std::chrono::milliseconds(9 * 5));
    EXPECT_EQ(pty.Receive(1, 50).size(), 0u) << "no terminator follows a command";

    // A write that fails says so, with the system's reason, and the rest is not sent.
    ComAccess closed;
    EXPECT_EQ(closed.WriteData("x", 1), -1);
    EXPECT_EQ(closed.WriteString("*CAU"), -1);
    EXPECT_EQ(closed.LastError().Text(),
              "WriteData(): WriteFile() failed: (9) Bad file descriptor\n");
    EXPECT_EQ(closed.LastError().kind, PortFault::Closed);
    // A pacer cut short stops the command before its next byte.
    CExchangeGate gate;
    const CExchangePacer pacer(gate, gate.Generation());
    gate.Advance();
    EXPECT_EQ(port.WriteString("*CSU", pacer), 0);
    EXPECT_EQ(pty.Receive(1, 50).size(), 0u);
    EXPECT_EQ(closed.WriteData("x", 0), 0);
    char c;
    EXPECT_EQ(closed.ReadData(&c, 0), 0);
}

TEST(ComAccess, ReadTakesAtMostWhatIsAskedAndLeavesTheRestQueued) {
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    ComAccess port;
    ASSERT_TRUE(port.Open(pty.SlavePath(), 57600));
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.ReadData(buffer, 10), 0) << "nothing queued";
    // It waits 1 ms for a byte; the bound catches a read that blocks, not a busy machine.
    EXPECT_LT(std::chrono::steady_clock::now() - start, kGenerousDeadline);
    EXPECT_EQ(port.QueuedInputCount(), 0);

    pty.Send(std::string(100, 'a'));
    ASSERT_TRUE(WaitUntil([&] { return port.QueuedInputCount() >= 100; }));
    EXPECT_EQ(port.QueuedInputCount(), 100);
    EXPECT_EQ(port.ReadData(buffer, 10), 10);
    EXPECT_EQ(buffer[10], '#') << "nothing written past the bytes asked for";
    EXPECT_EQ(port.QueuedInputCount(), 90);
}

TEST(ComAccess, ReadFailsWhenTheDeviceGoesAwayAndWhenClosed) {
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    ComAccess port;
    ASSERT_TRUE(port.Open(pty.SlavePath(), 57600));
    pty.CloseMaster();
    char buffer[8];
    EXPECT_EQ(port.ReadData(buffer, sizeof buffer), -1);
    EXPECT_NE(port.LastError().Text().find("ReadData(): "), std::string::npos);
    EXPECT_EQ(port.LastError().kind, PortFault::HungUp);
    EXPECT_TRUE(port.IsOpen()) << "a failed read leaves the handle to its owner";
    port.Close();
    EXPECT_EQ(port.ReadData(buffer, sizeof buffer), -1);
    EXPECT_EQ(port.QueuedInputCount(), -1);
}

} // namespace

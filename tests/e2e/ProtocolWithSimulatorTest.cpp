// The meter exchanges of the core against a simulated meter on a pseudo-terminal.

#include "link/ComAccess.h"
#include "link/DetectorProtocol.h"
#include "sim/MeterSimulator.h"

#include <gtest/gtest.h>

#include <chrono>

namespace Protocol = DetectorProtocol;

namespace {

TEST(ProtocolWithSimulator, ProbePacesEveryByteAndReadsTheIdentification) {
    CMeterSimulator meter(DefaultMeterProfile(0));
    std::string error;
    ASSERT_TRUE(meter.Start(error)) << error;
    const auto start = std::chrono::steady_clock::now();
    const Protocol::ProbeResult probe = Protocol::ProbePort(meter.PortPath());
    const auto elapsed = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(probe.opened) << probe.error;
    EXPECT_EQ(probe.name, meter.Profile().name);
    EXPECT_EQ(probe.serial, meter.Profile().serialReply.substr(4));
    EXPECT_GE(elapsed, std::chrono::milliseconds(3 * 100 + 12 * 5));

    const auto bytes = meter.ReceivedBytes();
    std::string text;
    for (const auto& b : bytes)
        text += b.byte;
    EXPECT_EQ(text, "*CSU*NAM*SNN");
    // Each command's four bytes are spread over three 5 ms pauses, and 100 ms separate the
    // commands. The simulator stamps a byte when it wakes to read it, so a busy machine can only
    // stamp late: the bound leaves room for a late first byte (unpaced bytes would be ~0 ms apart).
    ASSERT_EQ(bytes.size(), 12u);
    for (size_t c = 0; c < 3; ++c)
        EXPECT_GE(bytes[c * 4 + 3].timeMs - bytes[c * 4].timeMs, 3 * 5 - 7) << "command " << c;
    EXPECT_GE(bytes[4].timeMs - bytes[3].timeMs, 100 - 2);
}

} // namespace

// The meter exchanges of the core against a simulated meter on a pseudo-terminal.

#include "link/ComAccess.h"
#include "link/DetectorProtocol.h"
#include "sim/MeterSimulator.h"
#include "support/SteadyMeter.h"

#include <gtest/gtest.h>

#include <chrono>

namespace Protocol = DetectorProtocol;

namespace {

TEST(ProtocolWithSimulator, ProbePacesEveryByteAndReadsTheIdentification) {
    CMeterSimulator meter(DefaultMeterProfile(0));
    std::string error;
    ASSERT_TRUE(meter.Start(error)) << error;
    const auto start = std::chrono::steady_clock::now();
    const double startMs =
        std::chrono::duration<double, std::milli>(start.time_since_epoch()).count();
    const Protocol::ProbeResult probe = Protocol::ProbePort(meter.PortPath());
    const auto elapsed = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(probe.opened) << probe.error.Text();
    EXPECT_EQ(probe.name, meter.Profile().name);
    EXPECT_EQ(probe.serial, meter.Profile().serialReply.substr(4));
    EXPECT_GE(elapsed, std::chrono::milliseconds(3 * 100 + 12 * 5));

    const auto bytes = meter.ReceivedBytes();
    std::string text;
    for (const auto& b : bytes)
        text += b.byte;
    EXPECT_EQ(text, "*CSU*NAM*SNN");
    // Each command's four bytes are spread over three 5 ms pauses, and 100 ms separate the
    // commands. A byte is stamped once the simulator has read it, never earlier, but a busy
    // machine can stamp any byte late by tens of milliseconds: each stamp is held against the
    // time the probe began, which no pause can precede, never against another stamp, which may
    // be as late. Unpaced bytes would all come within a millisecond or two of the start.
    ASSERT_EQ(bytes.size(), 12u);
    for (size_t k = 0; k < bytes.size(); ++k) {
        const double pauses = static_cast<double>((k / 4) * (3 * 5 + 100) + (k % 4) * 5);
        EXPECT_GE(bytes[k].timeMs - startMs, pauses) << "byte " << k;
    }
}

// A reply that comes after its 100 ms pause, whole or in two pieces, is read on to its CR LF,
// in the probe and in the resume of a lost meter, with the same bytes sent to the meter. A port
// whose meter says nothing is still listed without a name.
TEST(ProtocolWithSimulator, LateAndSplitRepliesAreReadWhole) {
    MeterProfile late = DefaultMeterProfile(1);
    late.replyDelayMs = 150;
    MeterProfile split = DefaultMeterProfile(2);
    split.replyRestMs = 130;
    for (const MeterProfile& profile : {late, split}) {
        CMeterSimulator meter(profile);
        std::string error;
        ASSERT_TRUE(meter.Start(error)) << error;
        const Protocol::ProbeResult probe = Protocol::ProbePort(meter.PortPath());
        ASSERT_TRUE(probe.opened) << probe.error.Text();
        EXPECT_EQ(probe.name, profile.name);
        EXPECT_EQ(probe.serial, profile.serialReply.substr(4));
        EXPECT_EQ(ReceivedText(meter), "*CSU*NAM*SNN");

        meter.ClearLogs();
        ComAccess port;
        Protocol::ResumeSettings settings;
        settings.serial = profile.serialReply.substr(4);
        settings.wavelengthNm = 532;
        settings.anticipation = false;
        EXPECT_EQ(Protocol::ResumeMeter(port, meter.PortPath(), settings),
                  Protocol::ResumeResult::Resumed);
        EXPECT_EQ(ReceivedText(meter), "*CSU*NAM*SNN*PWC  532*ANF*CAU");
        Protocol::CloseMeter(port);
    }

    CMeterSimulator silent(DefaultMeterProfile(3));
    std::string error;
    ASSERT_TRUE(silent.Start(error)) << error;
    silent.SetFault(MeterFault::Silence);
    const Protocol::ProbeResult probe = Protocol::ProbePort(silent.PortPath());
    EXPECT_TRUE(probe.opened);
    EXPECT_EQ(probe.name, "");
    EXPECT_EQ(probe.serial, "");
}

} // namespace

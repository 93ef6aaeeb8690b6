// The meter exchanges of the core against a simulated meter on a pseudo-terminal.

#include "link/ComAccess.h"
#include "link/DetectorProtocol.h"
#include "link/LineBuffer.h"
#include "link/MeterLink.h"
#include "sim/MeterSimulator.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include <stdlib.h>
#include <unistd.h>

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

TEST(ProtocolWithSimulator, ShortSerialReplyGivesNoSerialNumber) {
    MeterProfile profile = DefaultMeterProfile(1);
    profile.serialReply = "S/N";
    CMeterSimulator meter(profile);
    std::string error;
    ASSERT_TRUE(meter.Start(error)) << error;
    const Protocol::ProbeResult probe = Protocol::ProbePort(meter.PortPath());
    EXPECT_EQ(probe.name, profile.name);
    EXPECT_EQ(probe.serial, "");
}

TEST(ProtocolWithSimulator, ConnectConfigureIdentifyAndClose) {
    CMeterSimulator meter(DefaultMeterProfile(2));
    std::string error;
    ASSERT_TRUE(meter.Start(error)) << error;
    ComAccess port;
    ASSERT_TRUE(Protocol::OpenMeterPort(port, meter.PortPath()));
    Protocol::ApplyWavelengthAndStart(port, 10600);
    CLineBuffer lines;
    size_t readings = 0;
    for (int pass = 0; pass < 100 && readings < 3; ++pass) {
        char buffer[Protocol::kStreamBufferSize] = {};
        const int queued = port.QueuedInputCount();
        if (queued > 0) {
            const int n = port.ReadData(buffer, std::min<uint32_t>(queued, sizeof buffer - 1));
            lines.Append(buffer, static_cast<size_t>(n));
            readings += lines.TakeReadings(1.0f, 0.0f, [](float v) { EXPECT_GT(v, 0.0f); });
        }
        Protocol::WaitMs(50);
    }
    EXPECT_GE(readings, 3u);
    EXPECT_EQ(meter.Wavelength(), 10600);

    Protocol::ApplyConfiguration(port, 532, false);
    Protocol::WaitMs(100); // the meter takes the last command after its field ends
    EXPECT_EQ(meter.Wavelength(), 532);
    EXPECT_FALSE(meter.Anticipation());

    Protocol::CloseMeter(port);
    ASSERT_TRUE(Protocol::OpenMeterPort(port, meter.PortPath()));
    std::string name, serial;
    Protocol::ReadIdentification(port, name, serial);
    // The identify exchange keeps the replies as received.
    EXPECT_EQ(name, meter.Profile().name + "\r\n");
    EXPECT_EQ(serial, meter.Profile().serialReply.substr(4) + "\r\n");
    Protocol::CloseMeter(port);
    Protocol::WaitMs(100);
    EXPECT_FALSE(meter.IsStreaming());
}

} // namespace

// A link through a stable path: lost at the hang-up, tried every two seconds while the meter is
// out, taken back with its settings once the same meter answers on the new port.
TEST(MeterLinkWithSimulator, LostAtTheHangUpThenResumedThroughTheLink) {
    char folder[] = "/tmp/kelvarin-link-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string link = std::string(folder) + "/meter";
    CMeterSimulator meter(DefaultMeterProfile(4));
    meter.SetLinkPath(link);
    std::string error;
    ASSERT_TRUE(meter.Start(error)) << error;

    ComAccess port;
    CMeterLink meterLink(port);
    ASSERT_TRUE(Protocol::OpenMeterPort(port, link));
    meterLink.SetConnected(link);
    Protocol::ApplyWavelengthAndStart(port, 633);
    const Protocol::ResumeSettings settings{"KV2405 ", 633, false};
    int readings = 0;
    std::vector<LinkEvent> events;
    const auto pass = [&] {
        const LinkEvent event = meterLink.Poll(
            1.0f, 0.0f, [&](float) { ++readings; }, [&] { return settings; });
        if (event != LinkEvent::None)
            events.push_back(event);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    };
    for (int i = 0; i < 20 && readings < 3; ++i)
        pass();
    ASSERT_GE(readings, 3);

    // Out for 3 s: the first try (2 s after the loss) finds no port, the second takes it back.
    meter.Replug(3000);
    const auto unplugged = std::chrono::steady_clock::now();
    for (int i = 0; i < 40 && events.empty(); ++i)
        pass();
    ASSERT_EQ(events, std::vector<LinkEvent>{LinkEvent::Lost});
    EXPECT_LT(std::chrono::steady_clock::now() - unplugged, std::chrono::milliseconds(500));
    EXPECT_EQ(meterLink.State(), LinkState::Lost);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_GT(meterLink.LostAt(), 0);
    const int before = readings;
    for (int i = 0; i < 200 && events.size() < 2; ++i)
        pass();
    ASSERT_EQ(events, (std::vector<LinkEvent>{LinkEvent::Lost, LinkEvent::Resumed}));
    EXPECT_GE(std::chrono::steady_clock::now() - unplugged, std::chrono::milliseconds(3000));
    EXPECT_EQ(readings, before);
    EXPECT_EQ(meter.Wavelength(), 633);
    EXPECT_FALSE(meter.Anticipation());
    for (int i = 0; i < 40 && readings < before + 3; ++i)
        pass();
    EXPECT_GE(readings, before + 3);

    meterLink.SetClosed();
    Protocol::CloseMeter(port);
    meter.Stop();
    rmdir(folder);
}

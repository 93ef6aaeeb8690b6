// kelvarin-cli against a simulated meter behind a real serial device server: Debian's ser2net,
// started by the test on 127.0.0.1 with a raw TCP accepter in front of the meter's
// pseudo-terminal, and stopped by its id.

#include "acquisition/AcquisitionWords.h"
#include "channel/Channel.h"
#include "link/ComAccess.h"
#include "sim/MeterSimulator.h"
#include "support/HttpClient.h"
#include "support/ReadFile.h"
#include "support/Ser2Net.h"
#include "support/SteadyMeter.h"
#include "support/Subprocess.h"
#include "support/TempHome.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace {

const std::string kCli = KELVARIN_CLI_PATH;

// Probe and stream through the server read what they read on the pseudo-terminal, and the
// meter receives the same bytes.
TEST(NetworkPortEndToEnd, ProbeAndStreamThroughARawDeviceServer) {
    if (!HasSer2Net())
        GTEST_SKIP() << "no ser2net on PATH";
    TempHome home;
    std::string error;
    CMeterSimulator meter(SteadyProfile("KLV-NET", "KN3001", 40));
    ASSERT_TRUE(meter.Start(error)) << error;
    Ser2Net server(home.Path(), meter.PortPath());
    ASSERT_TRUE(server.WaitReady()) << server.Errors();

    ProcessResult r = RunProgram({kCli, "probe", server.Url()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "-1\t" + server.Url() + "\tKLV-NET\tKN3001\t\n");
    EXPECT_EQ(ReceivedText(meter), "*CSU*NAM*SNN");

    // The same stream on the pseudo-terminal and through the server: the same lines, and the
    // same bytes at the meter.
    std::string received[2];
    std::string values[2];
    const std::string ports[2] = {meter.PortPath(), server.Url()};
    for (int way = 0; way < 2; ++way) {
        meter.ClearLogs();
        r = RunProgram({kCli, "stream", ports[way], "--count", "5"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        std::istringstream lines(r.out);
        int count = 0;
        for (std::string line; std::getline(lines, line); ++count)
            values[way] += line.substr(line.find('\t')) + "\n"; // the time aside
        EXPECT_EQ(count, 5) << r.out;
        EXPECT_TRUE(StopsStreaming(meter));
        received[way] = ReceivedText(meter);
    }
    EXPECT_EQ(values[1], values[0]);
    EXPECT_EQ(received[1], received[0]);
    EXPECT_EQ(received[1], "*CSU*NAM*SNN*PWC 1064*CAU*CSU");
}

// The server killed: the channel's meter is lost, with the server's close as its reason, and it
// keeps its last reading for a recording; the server back on its port: the channel takes the
// same meter back by itself, with its wavelength, and reads again.
TEST(NetworkPortEndToEnd, AServerGoneIsALostMeterAndItsReturnResumesIt) {
    if (!HasSer2Net())
        GTEST_SKIP() << "no ser2net on PATH";
    TempHome home;
    std::string error;
    CMeterSimulator meter(SteadyProfile("KLV-NET", "KN3002", 40));
    ASSERT_TRUE(meter.Start(error)) << error;
    auto server = std::make_unique<Ser2Net>(home.Path(), meter.PortPath());
    ASSERT_TRUE(server->WaitReady()) << server->Errors();
    const int port = server->Port();

    CChannel channel;
    CChannelConfig config;
    config.m_strPort = server->Url();
    config.m_strSerial = "KN3002";
    config.m_strName = "KLV-NET";
    config.m_nWavelength = 633;
    channel.RequestConnect(config, false);
    ASSERT_TRUE(WaitUntil([&] { return channel.ReadingCount() > 5; }));
    const float reading = channel.Value();

    server.reset(); // killed by its id
    ASSERT_TRUE(WaitUntil([&] { return channel.IsLost(); }));
    EXPECT_EQ(channel.SampleForAcquisition(), reading);
    EXPECT_FALSE(channel.HasReading());
    meter.ClearLogs();

    server = std::make_unique<Ser2Net>(home.Path(), meter.PortPath(), port);
    ASSERT_TRUE(server->WaitReady()) << server->Errors();
    ASSERT_TRUE(WaitUntil([&] { return channel.IsConnected() && channel.HasReading(); },
                          std::chrono::seconds(15)));
    EXPECT_EQ(meter.Wavelength(), 633);
    EXPECT_NE(ReceivedText(meter).find("*SNN"), std::string::npos) << "asked who it is";
}

// Through RFC 2217 the client sets the line: the server's port, configured at 9600 7E1, is at
// 57600 8N1 without flow control while a client is connected, and the probe and the stream
// read what they read on the pseudo-terminal.
TEST(NetworkPortEndToEnd, Rfc2217SetsTheLineAndCarriesTheSameExchange) {
    if (!HasSer2Net())
        GTEST_SKIP() << "no ser2net on PATH";
    TempHome home;
    std::string error;
    CMeterSimulator meter(SteadyProfile("KLV-NET", "KN3003", 40));
    ASSERT_TRUE(meter.Start(error)) << error;
    Ser2Net server(home.Path(), meter.PortPath(), 0, true, "9600e71");
    ASSERT_TRUE(server.WaitReady()) << server.Errors();

    ProcessResult r = RunProgram({kCli, "probe", server.Url()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "-1\t" + server.Url() + "\tKLV-NET\tKN3003\t\n");
    EXPECT_EQ(ReceivedText(meter), "*CSU*NAM*SNN");
    // Read back while a client holds the server's port (closed, a pseudo-terminal forgets it).
    ComAccess client;
    ASSERT_TRUE(client.Open(server.Url(), ComAccess::kMeterBaudRate)) << client.LastError().Text();
    const int line = ::open(meter.PortPath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(line, 0);
    termios tio{};
    ASSERT_EQ(::tcgetattr(line, &tio), 0);
    ::close(line);
    EXPECT_EQ(::cfgetospeed(&tio), B57600);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    client.Close();

    meter.ClearLogs();
    r = RunProgram({kCli, "stream", server.Url(), "--count", "5"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 5) << r.out;
    EXPECT_NE(r.out.find("\t1.50 mW\n"), std::string::npos) << r.out;
    EXPECT_TRUE(StopsStreaming(meter));
    EXPECT_EQ(ReceivedText(meter), "*CSU*NAM*SNN*PWC 1064*CAU*CSU");
}

// The window's network ports come after the local ones in `ports` (and so in a bare `probe`);
// an entry of a hand-edited profile that is no URL is left out, and said.
TEST(NetworkPortEndToEnd, PortsListsTheKeptNetworkPortsAfterTheLocalOnes) {
    TempHome home;
    const std::string folder = home.Path() + "/config/Kelvarin";
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/Kelvarin.conf")
        << "[NetworkPorts]\nPorts=rfc2217://lab-7:4001 ttyUSB0 socket://[::1]:4002\n";
    setenv("KELVARIN_PORTS", "/dev/pts/91:socket://[::1]:4002", 1);
    const ProcessResult r = RunProgram({kCli, "ports"});
    unsetenv("KELVARIN_PORTS");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "/dev/pts/91\nsocket://[::1]:4002\nrfc2217://lab-7:4001\n");
    EXPECT_EQ(r.err, "left out of the network ports: ttyUSB0: not a network port (rfc2217:// or "
                     "socket://)\n");
}

// A network meter monitored headless: its meter's series carries its URL as its port.
TEST(NetworkPortEndToEnd, MonitorLabelsANetworkMeterWithItsUrl) {
    if (!HasSer2Net())
        GTEST_SKIP() << "no ser2net on PATH";
    TempHome home;
    std::string error;
    CMeterSimulator meter(SteadyProfile("KLV-NET", "KN3004", 40));
    ASSERT_TRUE(meter.Start(error)) << error;
    Ser2Net server(home.Path(), meter.PortPath(), 0, true);
    ASSERT_TRUE(server.WaitReady()) << server.Errors();
    Subprocess monitor({kCli, "monitor", "--metrics", "127.0.0.1:0", server.Url()});
    ASSERT_TRUE(monitor.WaitForOutput("/metrics\n", 15000)) << monitor.Output();
    const std::string served = monitor.Output();
    const int port = std::atoi(served.c_str() + served.rfind(':') + 1);
    const std::string series = "kelvarin_meter_info{position=\"1\",serial=\"KN3004\","
                               "name=\"KLV-NET\",port=\"" +
                               server.Url() + "\",title=\"Position_1\"} 1";
    std::string page;
    EXPECT_TRUE(WaitUntil([&] {
        page = HttpGet(port, "/metrics").body;
        return page.find(series) != std::string::npos;
    })) << page;
    monitor.Signal(SIGINT);
    EXPECT_EQ(monitor.Finish(10000).exitCode, 0);
}

// A recording through the server holds what one on the pseudo-terminal holds, times aside; a
// server that is not there and a host that does not exist are told, and the run fails, without
// waiting on them beyond their 3 s.
TEST(NetworkPortEndToEnd, RecordGivesWhatThePseudoTerminalGivesAndUnreachableServersFail) {
    if (!HasSer2Net())
        GTEST_SKIP() << "no ser2net on PATH";
    TempHome home;
    std::string error;
    CMeterSimulator meter(SteadyProfile("KLV-NET", "KN3005", 40));
    ASSERT_TRUE(meter.Start(error)) << error;
    Ser2Net server(home.Path(), meter.PortPath(), 0, true);
    ASSERT_TRUE(server.WaitReady()) << server.Errors();
    std::string recorded[2];
    const std::string ports[2] = {meter.PortPath(), server.Url()};
    for (int way = 0; way < 2; ++way) {
        const ProcessResult r =
            RunProgram({kCli, "record", "--prefix", home.Path() + "/way" + std::to_string(way),
                        "--duration", "2", ports[way]});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        std::istringstream lines(ReadFile(r.out.substr(0, r.out.find('\n'))));
        int data = 0;
        for (std::string line; std::getline(lines, line);) {
            std::time_t t = 0; // a data line's time goes first
            const bool timed =
                line.size() >= 19 && ParseAcquisitionTimestamp(line.substr(0, 19), t);
            data += timed;
            recorded[way] += (timed ? line.substr(19) : line) + "\n";
        }
        EXPECT_EQ(data, 3) << recorded[way]; // 2 s at 1 s, both ends
    }
    EXPECT_EQ(recorded[1], recorded[0]);

    const std::string closed = "socket://127.0.0.1:" + std::to_string(FreePort());
    const auto start = std::chrono::steady_clock::now();
    const ProcessResult refused = RunProgram({kCli, "probe", closed});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find(closed + ": cannot open the port: 127.0.0.1:"), std::string::npos)
        << refused.err;
    EXPECT_NE(refused.err.find(": Connection refused"), std::string::npos) << refused.err;
    const ProcessResult unknown =
        RunProgram({kCli, "stream", "rfc2217://meter.invalid:4000", "--count", "1"});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_EQ(unknown.err.rfind("rfc2217://meter.invalid:4000: cannot open the port: "
                                "meter.invalid:4000: ",
                                0),
              0u)
        << unknown.err;
    // Only a hang is caught here: the 3 s limit itself is the port layer's test.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

} // namespace

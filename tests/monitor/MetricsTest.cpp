// The metrics page of bound channels (values, labels, a lost meter, counters) and the server
// that answers it: only GET /metrics, a password when asked, a refused port told with its
// reason, and scrapes answered while idle and garbage connections are open.

#include "acquisition/AcquisitionEngine.h"
#include "channel/Channel.h"
#include "monitor/MeterMetrics.h"
#include "monitor/MetricsServer.h"
#include "sim/MeterSimulator.h"
#include "support/HttpClient.h"
#include "support/SteadyMeter.h"
#include "support/TempHome.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <mutex>

#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/stat.h>

namespace {

TempHome g_home;

CChannelConfig Record(const std::string& port, const std::string& serial, int position) {
    CChannelConfig config;
    config.m_strPort = port;
    config.m_strSerial = serial;
    config.m_strName = "KLV-MON";
    config.m_strTitle = "Amplifier";
    config.m_nPosition = position - 1;
    config.m_fLevelLow = 1e-3f;
    config.m_fLevelHigh = 2e-3f;
    return config;
}

// The page's samples, by the whole text before the value ("name{labels}").
std::map<std::string, std::string> Samples(const std::string& page) {
    std::map<std::string, std::string> samples;
    std::istringstream in(page);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        const size_t space = line.rfind(' ');
        samples[line.substr(0, space)] = line.substr(space + 1);
    }
    return samples;
}

double Number(const std::map<std::string, std::string>& samples, const std::string& key) {
    const auto found = samples.find(key);
    return found == samples.end() ? -1.0 : std::stod(found->second);
}

#define SKIP_WITHOUT_EXPORTER()                                                                    \
    if (!CMetricsServer::Available())                                                              \
    GTEST_SKIP() << "this build has no metrics exporter"

const std::string kLabels = "{position=\"3\",serial=\"KM3001\",title=\"Amplifier\"}";

// A server of `metrics` on 127.0.0.1 and a port the system chooses; its port, 0 when it failed.
int StartLocal(CMetricsServer& server) {
    MetricsEndpoint endpoint;
    endpoint.port = 0;
    std::string error;
    EXPECT_TRUE(server.Start(endpoint, error)) << error;
    return server.Port();
}

std::string WriteFile(const std::string& name, const std::string& text, mode_t mode) {
    const std::string path = g_home.Path() + "/" + name;
    std::ofstream(path) << text;
    chmod(path.c_str(), mode);
    return path;
}

} // namespace

// A streaming meter at position 3: its reading as the decimal it holds, the labels, levels,
// wavelength, info and build; an unbound channel shows nothing; the acquisition tally. While the
// meter is lost its power is absent (Prometheus marks the series stale) and it is down; the
// counters never go back; when it is back it is up, with no power nor reading time until its
// first new reading, then with its power again. A meter that goes silent with its port open
// stays up and has no power after 5 s.
TEST(MetricsPage, ShowsBoundMetersAndALostOneIsDownWithoutPowerAndCountersOnlyGrow) {
    SKIP_WITHOUT_EXPORTER();
    const std::string link = g_home.Path() + "/by-id-mon";
    CMeterSimulator meter(SteadyProfile("KLV-MON", "KM3001", 100, 1.5e-3));
    meter.SetLinkPath(link);
    std::string error;
    ASSERT_TRUE(meter.Start(error)) << error;
    CChannel channel, unbound;
    CMeterMetrics metrics;
    std::mutex lock;
    std::string atResume; // the page when the channel says it is back
    channel.SetEventHandler([&](ChannelEvent event, const std::string&) {
        if (event != ChannelEvent::Resumed)
            return;
        std::lock_guard<std::mutex> guard(lock);
        atResume = MetricsPageText(metrics.Snapshot());
    });
    channel.RequestConnect(Record(link, "KM3001", 3), false);
    ASSERT_TRUE(WaitUntil([&] { return channel.ReadingCount() > 3; }));

    CAcquisitionTally tally;
    tally.running = true;
    tally.lines = 61;
    metrics.SetChannels({{3, &channel}, {4, &unbound}});
    metrics.SetAcquisition(&tally);
    const std::string page = MetricsPageText(metrics.Snapshot());
    const auto samples = Samples(page);
    EXPECT_EQ(samples.at("kelvarin_power_watts" + kLabels), "0.0015") << page;
    EXPECT_EQ(samples.at("kelvarin_meter_up" + kLabels), "1");
    EXPECT_EQ(samples.at("kelvarin_alarm_latched" + kLabels), "0");
    EXPECT_EQ(samples.at("kelvarin_alarm_trips_total" + kLabels), "0");
    EXPECT_EQ(samples.at("kelvarin_alarm_low_watts" + kLabels), "0.001");
    EXPECT_EQ(samples.at("kelvarin_alarm_high_watts" + kLabels), "0.002");
    EXPECT_EQ(samples.at("kelvarin_wavelength_meters" + kLabels), "1.064e-06");
    const double before = Number(samples, "kelvarin_readings_total" + kLabels);
    EXPECT_GE(before, 4.0);
    const double now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    EXPECT_NEAR(Number(samples, "kelvarin_last_reading_timestamp_seconds" + kLabels), now, 5.0);
    const std::string info =
        "kelvarin_meter_info{position=\"3\",serial=\"KM3001\",name=\"KLV-MON\","
        "port=\"" +
        link + "\",title=\"Amplifier\"}";
    EXPECT_EQ(samples.at(info), "1");
    EXPECT_EQ(samples.at("kelvarin_acquisition_running"), "1");
    EXPECT_EQ(samples.at("kelvarin_acquisition_lines_total"), "61");
    EXPECT_EQ(samples.at("kelvarin_build_info{version=\"" KELVARIN_VERSION "\"}"), "1");
    EXPECT_EQ(page.find("position=\"4\""), std::string::npos) << "an unbound position is absent";
    EXPECT_NE(page.find("# TYPE kelvarin_readings_total counter"), std::string::npos);
    EXPECT_NE(page.find("# TYPE kelvarin_power_watts gauge"), std::string::npos);

    meter.Replug(60000); // out until the lost page is checked
    ASSERT_TRUE(WaitUntil([&] { return channel.IsLost(); }));
    auto lost = Samples(MetricsPageText(metrics.Snapshot()));
    EXPECT_EQ(lost.count("kelvarin_power_watts" + kLabels), 0u);
    EXPECT_EQ(lost.at("kelvarin_meter_up" + kLabels), "0");
    EXPECT_GE(Number(lost, "kelvarin_readings_total" + kLabels), before);
    EXPECT_EQ(lost.count(info), 1u);
    meter.PlugIn();

    ASSERT_TRUE(WaitUntil([&] {
        const uint64_t counted = channel.ReadingCount();
        return channel.IsConnected() && counted > static_cast<uint64_t>(before) + 3;
    }));
    auto back = Samples(MetricsPageText(metrics.Snapshot()));
    EXPECT_EQ(back.at("kelvarin_power_watts" + kLabels), "0.0015");
    EXPECT_EQ(back.at("kelvarin_meter_up" + kLabels), "1");
    EXPECT_GT(Number(back, "kelvarin_readings_total" + kLabels), before);
    {
        std::lock_guard<std::mutex> guard(lock);
        const auto resumed = Samples(atResume);
        EXPECT_EQ(resumed.at("kelvarin_meter_up" + kLabels), "1") << atResume;
        EXPECT_EQ(resumed.count("kelvarin_power_watts" + kLabels), 0u);
        EXPECT_EQ(resumed.count("kelvarin_last_reading_timestamp_seconds" + kLabels), 0u);
    }

    meter.SetFault(MeterFault::Silence);
    ASSERT_TRUE(WaitUntil([&] { return channel.IsSilent(); }, std::chrono::seconds(15)));
    auto silent = Samples(MetricsPageText(metrics.Snapshot()));
    EXPECT_EQ(silent.at("kelvarin_meter_up" + kLabels), "1");
    EXPECT_EQ(silent.count("kelvarin_power_watts" + kLabels), 0u);
    EXPECT_EQ(silent.count("kelvarin_last_reading_timestamp_seconds" + kLabels), 1u);
    channel.RequestClose();
    unlink(link.c_str());
}

// Listen addresses as the user writes them: a port alone is local; a bad one leaves the
// endpoint as it was and says why.
TEST(MetricsServer, ListenAddressesAreReadAndCheckedLikeTheUserMeantThem) {
    MetricsEndpoint endpoint;
    std::string error;
    ASSERT_TRUE(ParseMetricsListen("10641", endpoint, error)) << error;
    EXPECT_EQ(endpoint.address, "127.0.0.1");
    EXPECT_EQ(endpoint.port, 10641);
    ASSERT_TRUE(ParseMetricsListen("0.0.0.0:9", endpoint, error)) << error;
    EXPECT_EQ(endpoint.address, "0.0.0.0");
    ASSERT_TRUE(ParseMetricsListen("[::1]:10640", endpoint, error)) << error;
    EXPECT_EQ(endpoint.address, "::1");
    EXPECT_EQ(MetricsHostPort(endpoint.address, endpoint.port), "[::1]:10640");
    for (const char* bad : {"", "port", "70000", "-1", "1.2.3:80", "lab-pc:10640", ":"}) {
        MetricsEndpoint untouched;
        EXPECT_FALSE(ParseMetricsListen(bad, untouched, error)) << bad;
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(untouched.port, kDefaultMetricsPort) << bad;
    }
}

// Only GET /metrics answers; the page is the snapshot's; a second server on the same port is
// refused with the address and the system's reason.
TEST(MetricsServer, AnswersOnlyGetMetricsAndTellsAPortInUse) {
    SKIP_WITHOUT_EXPORTER();
    CMeterMetrics metrics;
    CMetricsServer server(metrics);
    const int port = StartLocal(server);
    ASSERT_GT(port, 0);
    EXPECT_EQ(server.Url(), "http://127.0.0.1:" + std::to_string(port) + "/metrics");

    const HttpAnswer page = HttpGet(port, "/metrics");
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.body.find("kelvarin_build_info{version=\"" KELVARIN_VERSION "\"} 1"),
              std::string::npos)
        << page.body;
    EXPECT_EQ(HttpGet(port, "/").status, 404);
    EXPECT_EQ(HttpGet(port, "/metrics/../etc/passwd").status, 404);
    EXPECT_EQ(HttpGet(port, "/index.html").status, 404);
    for (const char* method : {"POST", "PUT", "DELETE"}) {
        const HttpAnswer refused = HttpExchange(
            port, std::string(method) + " /metrics HTTP/1.0\r\nContent-Length: 0\r\n\r\n");
        EXPECT_GE(refused.status, 400) << method;
        EXPECT_EQ(refused.body.find("kelvarin_"), std::string::npos) << method;
    }

    std::string error;
    CMetricsServer odd(metrics);
    MetricsEndpoint wrong;
    wrong.port = 65536 + port; // would wrap to the port in use
    EXPECT_FALSE(odd.Start(wrong, error));
    EXPECT_EQ(error, "Cannot serve metrics on 127.0.0.1:" + std::to_string(wrong.port) + ": \"" +
                         std::to_string(wrong.port) + "\" is not a port number (0 to 65535)");

    CMetricsServer second(metrics);
    MetricsEndpoint taken;
    taken.port = port;
    EXPECT_FALSE(second.Start(taken, error));
    EXPECT_EQ(error, "Cannot serve metrics on 127.0.0.1:" + std::to_string(port) +
                         ": Address already in use");
    EXPECT_FALSE(second.IsServing());
    server.Stop();
    EXPECT_EQ(HttpGet(port, "/metrics").status, 0) << "nothing listens once stopped";
}

// With a password file the page needs its user and password; a file others can read is
// refused before the server starts.
TEST(MetricsServer, BasicAuthenticationFromAPrivateFileOnly) {
    SKIP_WITHOUT_EXPORTER();
    CMeterMetrics metrics;
    CMetricsServer server(metrics);
    MetricsEndpoint endpoint;
    endpoint.port = 0;
    endpoint.authFile = WriteFile("auth-open", "lab:secret\n", 0644);
    std::string error;
    EXPECT_FALSE(server.Start(endpoint, error));
    EXPECT_EQ(error, endpoint.authFile +
                         " can be read by other users; make it private with chmod 600 " +
                         endpoint.authFile);
    endpoint.authFile = WriteFile("auth-bad", "no colon here\n", 0600);
    EXPECT_FALSE(server.Start(endpoint, error));
    EXPECT_EQ(error, endpoint.authFile + ": the first line must be user:password");

    endpoint.authFile = WriteFile("auth", "lab:secret\n", 0600);
    ASSERT_TRUE(server.Start(endpoint, error)) << error;
    const int port = server.Port();
    EXPECT_EQ(HttpGet(port, "/metrics").status, 401);
    EXPECT_EQ(HttpGet(port, "/metrics", "Authorization: Basic bGFiOnNlY3JldEE=\r\n").status, 401)
        << "lab:secretA";
    EXPECT_EQ(HttpGet(port, "/metrics", "Authorization: Basic bGFiOnNlY3JldA==\r\n").status, 200)
        << "lab:secret";

    // The server's TLS stops the process at the first request on this platform: refused.
    CMetricsServer encrypted(metrics);
    endpoint.tlsFile = WriteFile("tls.pem", "", 0600);
    EXPECT_FALSE(encrypted.Start(endpoint, error));
    EXPECT_EQ(error, "Cannot serve metrics on 127.0.0.1:0: this build cannot speak TLS; serve on "
                     "127.0.0.1 behind a TLS proxy instead");
}

// Ten connections that send nothing and ten that send garbage hold threads of the server until
// their timeout; a scrape meanwhile is answered within a second.
TEST(MetricsServer, IdleAndGarbageConnectionsDoNotHoldUpAScrape) {
    SKIP_WITHOUT_EXPORTER();
    CMeterMetrics metrics;
    CMetricsServer server(metrics);
    const int port = StartLocal(server);
    ASSERT_GT(port, 0);
    std::vector<int> open;
    for (int i = 0; i < 10; ++i)
        open.push_back(ConnectLocal(port));
    for (int i = 0; i < 10; ++i) {
        const int fd = ConnectLocal(port);
        const std::string garbage = i % 2 ? std::string(300, '\x01') : "GET /metrics HT\x7f\r\n";
        send(fd, garbage.data(), garbage.size(), MSG_NOSIGNAL);
        open.push_back(fd);
    }
    for (int fd : open)
        ASSERT_GE(fd, 0);
    const auto start = std::chrono::steady_clock::now();
    const HttpAnswer page = HttpExchange(port, "GET /metrics HTTP/1.0\r\n\r\n", 1000);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(page.status, 200);
    EXPECT_LT(took, std::chrono::seconds(1));
    for (int fd : open)
        close(fd);
}

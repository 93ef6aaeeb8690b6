// kelvarin-cli monitor and record --metrics on simulated meters, and a real Prometheus started
// here on 127.0.0.1 scraping monitor every second: the power of a position as the meter sends
// it, a re-plugged meter down and without power while it is lost, an example alert firing.
// Both servers listen on ports the system chooses and are stopped by their process ids.

#include "detectors/ChannelConfig.h"
#include "detectors/ChannelConfigFile.h"
#include "detectors/DisplayAidsFile.h"
#include "monitor/MetricsServer.h"
#include "sim/MeterSimulator.h"
#include "support/HttpClient.h"
#include "support/SteadyMeter.h"
#include "support/Subprocess.h"
#include "support/TempHome.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <thread>

namespace {

const std::string kCli = KELVARIN_CLI_PATH;
const std::string kAlertRules = KELVARIN_SOURCE_DIR "/packaging/examples/kelvarin-alerts.yml";
const std::string kDashboard = KELVARIN_SOURCE_DIR "/packaging/examples/kelvarin-dashboard.json";

std::string Escaped(const std::string& query) {
    static const char hex[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned char c : query) {
        if (isalnum(c) || c == '_' || c == '.' || c == '-') {
            text += static_cast<char>(c);
        } else {
            text += '%';
            text += hex[c >> 4];
            text += hex[c & 15];
        }
    }
    return text;
}

// The port `pid` listens on over TCP, 0 while it listens on none: its sockets' inodes looked up
// in the kernel's table of listening sockets.
int ListeningPort(pid_t pid) {
    std::vector<std::string> inodes;
    const std::string fdDir = "/proc/" + std::to_string(pid) + "/fd";
    if (DIR* dir = opendir(fdDir.c_str())) {
        while (dirent* entry = readdir(dir)) {
            char target[128] = {};
            const std::string link = fdDir + "/" + entry->d_name;
            if (readlink(link.c_str(), target, sizeof target - 1) > 0 &&
                std::string(target).rfind("socket:[", 0) == 0)
                inodes.push_back(std::string(target).substr(8, std::strlen(target) - 9));
        }
        closedir(dir);
    }
    std::ifstream table("/proc/" + std::to_string(pid) + "/net/tcp");
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
        fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
            timeout >> inode;
        if (state == "0A" && std::find(inodes.begin(), inodes.end(), inode) != inodes.end())
            return std::stoi(local.substr(local.find(':') + 1), nullptr, 16);
    }
    return 0;
}

// A Prometheus of this machine with its own folder, scraping `target` every second with the
// example alert rules, evaluated every second. Killed by its id when the test ends.
class Prometheus {
public:
    Prometheus(const std::string& folder, const std::string& target) {
        const std::string config = folder + "/prometheus.yml";
        std::ofstream(config) << "global:\n"
                                 "  scrape_interval: 1s\n"
                                 "  evaluation_interval: 1s\n"
                                 "rule_files: ['"
                              << kAlertRules
                              << "']\n"
                                 "scrape_configs:\n"
                                 "  - job_name: kelvarin\n"
                                 "    static_configs:\n"
                                 "      - targets: ['"
                              << target << "']\n";
        // exec: the id started is Prometheus's own; its log goes to a file, not a pipe that
        // could fill.
        const std::string command =
            "exec prometheus --config.file=" + config + " --storage.tsdb.path=" + folder +
            "/data --web.listen-address=127.0.0.1:0 >" + folder + "/prometheus.log 2>&1";
        m_process =
            std::make_unique<Subprocess>(std::vector<std::string>{"/bin/sh", "-c", command});
        m_log = folder + "/prometheus.log";
    }
    ~Prometheus() {
        m_process->Signal(SIGTERM);
        m_process->Finish(10000);
    }
    bool WaitReady() {
        return WaitUntil(
            [this] {
                m_port = ListeningPort(m_process->Pid());
                return m_port > 0 && HttpGet(m_port, "/-/ready").status == 200;
            },
            std::chrono::milliseconds(20000));
    }
    // The JSON of an instant query.
    std::string Query(const std::string& promql) const {
        return HttpGet(m_port, "/api/v1/query?query=" + Escaped(promql)).body;
    }
    std::string Alerts() const { return HttpGet(m_port, "/api/v1/alerts").body; }
    std::string Log() const {
        std::ifstream in(m_log);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    std::unique_ptr<Subprocess> m_process;
    std::string m_log;
    int m_port = 0;
};

// The one value of an instant query's answer, empty when it has none.
std::string OnlyValue(const std::string& json) {
    const size_t value = json.find("\"value\":[");
    if (value == std::string::npos || json.find("\"value\":[", value + 1) != std::string::npos)
        return std::string();
    const size_t open = json.find('"', json.find(',', value));
    return json.substr(open + 1, json.find('"', open + 1) - open - 1);
}

// The queries of the example dashboard: each panel's "expr" and each variable's
// "label_values(SERIES, LABEL)" as the query of its series, with the dashboard's variables
// as Grafana fills them with "All" and short intervals.
std::vector<std::string> DashboardQueries() {
    std::ifstream in(kDashboard);
    const std::string json((std::istreambuf_iterator<char>(in)), {});
    std::vector<std::string> queries;
    for (const std::string key : {"\"expr\": \"", "\"definition\": \""}) {
        for (size_t at = json.find(key); at != std::string::npos; at = json.find(key, at)) {
            std::string text;
            for (at += key.size(); at < json.size() && json[at] != '"'; ++at) {
                if (json[at] == '\\' && at + 1 < json.size())
                    ++at; // \" and \\ of the JSON string
                text += json[at];
            }
            if (text.rfind("label_values(", 0) == 0)
                text = text.substr(13, text.rfind(',') - 13);
            for (const auto& [variable, value] :
                 {std::pair<std::string, std::string>{"$__rate_interval", "5s"},
                  {"$__range", "1h"},
                  {"$instance", ".*"},
                  {"$position", ".*"}})
                for (size_t v = text.find(variable); v != std::string::npos;
                     v = text.find(variable))
                    text.replace(v, variable.size(), value);
            queries.push_back(text);
        }
    }
    return queries;
}

bool HasPrometheus() {
    return system("command -v prometheus >/dev/null 2>&1") == 0;
}

} // namespace

TEST(MonitorEndToEnd, PrometheusScrapesTheMetersFollowsAReplugAndFiresAnAlert) {
    if (!CMetricsServer::Available() || !HasPrometheus())
        GTEST_SKIP() << "no exporter in this build, or no prometheus on PATH";
    TempHome home;
    CMeterSimulator first(SteadyProfile("KLV-PROM", "KP5001", 40, 2.5e-3));
    CMeterSimulator second(SteadyProfile("KLV-PROM", "KP5002", 40, 7.5e-4));
    second.SetLinkPath(home.Path() + "/by-id-prom");
    std::string error;
    ASSERT_TRUE(first.Start(error) && second.Start(error)) << error;
    // The first head has a high level (and latches) and a zero; the second was never set up:
    // both levels 0 W, latched at its first reading, which pages nobody.
    CChannelConfig levels;
    levels.m_fLevelHigh = 1e-3f;
    CDisplayAids zero;
    zero.m_fZero = 0.5e-3f;
    ASSERT_TRUE(SaveChannelConfigFile("KP5001", levels, error) &&
                SaveDisplayAidsFile("KP5001", zero, error))
        << error;

    Subprocess monitor(
        {kCli, "monitor", "--metrics", "127.0.0.1:0", first.PortPath(), second.StablePath()});
    ASSERT_TRUE(monitor.WaitForOutput("/metrics\n", 15000)) << monitor.Output();
    const std::string url = monitor.Output().substr(0, monitor.Output().find('\n'));
    ASSERT_EQ(url.rfind("http://127.0.0.1:", 0), 0u) << url;
    const std::string target = url.substr(7, url.find("/metrics") - 7);

    // What the meters and monitor's own page say, shown when a check fails.
    const auto bench = [&] {
        std::ostringstream text;
        text << "\nmonitor said:\n"
             << monitor.Errors() << "\nmonitor's page:\n"
             << HttpGet(std::stoi(target.substr(target.find(':') + 1)), "/metrics").body;
        for (const CMeterSimulator* meter : {&first, &second})
            text << "\n"
                 << meter->Profile().serialReply
                 << (meter->IsStreaming() ? " streams" : " is stopped") << ", sent "
                 << meter->ReadingsSent() << " readings, re-plugged " << meter->ReplugCount()
                 << " times, received:" << TimedReceivedText(*meter);
        return text.str();
    };
    Prometheus prometheus(home.Path(), target);
    ASSERT_TRUE(prometheus.WaitReady()) << prometheus.Log();

    // Position 1 holds one of the two meters: its power is what that meter sends.
    std::string position1;
    ASSERT_TRUE(WaitUntil(
        [&] {
            position1 = prometheus.Query("kelvarin_power_watts{position=\"1\"}");
            return !OnlyValue(position1).empty();
        },
        std::chrono::milliseconds(20000)))
        << position1 << bench();
    const bool firstAtOne = position1.find("\"serial\":\"KP5001\"") != std::string::npos;
    // The power with its zero taken off, and the zero.
    EXPECT_NEAR(std::stod(OnlyValue(position1)), firstAtOne ? 2e-3 : 7.5e-4, 1e-9) << position1;
    EXPECT_EQ(OnlyValue(prometheus.Query("kelvarin_zero_watts{serial=\"KP5001\"}")), "0.0005");
    EXPECT_EQ(OnlyValue(prometheus.Query("count(kelvarin_zero_watts)")), "1");

    // Every query of the example dashboard finds its series.
    for (const std::string& query : DashboardQueries()) {
        std::string answer;
        EXPECT_TRUE(WaitUntil(
            [&] {
                answer = prometheus.Query(query);
                return answer.find("\"result\":[{") != std::string::npos;
            },
            std::chrono::milliseconds(15000)))
            << query << "\n"
            << answer;
    }
    EXPECT_GE(DashboardQueries().size(), 11u);

    // Re-plugged: down and without power while it is lost, back afterwards.
    const std::string power = "kelvarin_power_watts{serial=\"KP5002\"}";
    const std::string up = "kelvarin_meter_up{serial=\"KP5002\"}";
    ASSERT_TRUE(WaitUntil([&] { return OnlyValue(prometheus.Query(up)) == "1"; },
                          std::chrono::milliseconds(10000)));
    second.Replug(600000); // out until its stale power is checked
    ASSERT_TRUE(WaitUntil([&] { return OnlyValue(prometheus.Query(up)) == "0"; },
                          std::chrono::milliseconds(10000)))
        << prometheus.Query(up);
    EXPECT_EQ(OnlyValue(prometheus.Query(power)), "") << "a lost meter's power is stale";
    second.PlugIn();
    ASSERT_TRUE(WaitUntil([&] { return OnlyValue(prometheus.Query(up)) == "1"; },
                          std::chrono::milliseconds(15000)));
    // Its first new reading, then a scrape: seconds apart on a machine that wakes us late.
    EXPECT_TRUE(WaitUntil([&] { return OnlyValue(prometheus.Query(power)) == "0.00075"; },
                          std::chrono::milliseconds(20000)))
        << prometheus.Query(power) << bench();

    // The configured head's latched alarm fires; the unconfigured one's latch pages nobody.
    const std::string latched = "ALERTS{alertname=\"KelvarinAlarmLatched\",alertstate=\"firing\"";
    EXPECT_TRUE(WaitUntil(
        [&] { return OnlyValue(prometheus.Query(latched + ",serial=\"KP5001\"}")) == "1"; },
        std::chrono::milliseconds(15000)))
        << prometheus.Alerts();
    EXPECT_EQ(OnlyValue(prometheus.Query("kelvarin_alarm_latched{serial=\"KP5002\"}")), "1");
    const std::string quiet =
        prometheus.Query("ALERTS{serial=\"KP5002\",alertname=~\"KelvarinAlarm.*\"}");
    EXPECT_NE(quiet.find("\"result\":[]"), std::string::npos) << quiet;

    monitor.Signal(SIGTERM);
    const ProcessResult r = monitor.Finish(10000);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("the meter stopped answering"), std::string::npos) << r.err;
    EXPECT_TRUE(StopsStreaming(first) && StopsStreaming(second)) << "every meter stopped";
}

// A port in use stops monitor before any probe with the address and the system's reason;
// record --metrics serves its acquisition while its file keeps its first line.
TEST(MonitorEndToEnd, APortInUseIsToldAndRecordServesItsAcquisition) {
    if (!CMetricsServer::Available())
        GTEST_SKIP() << "no exporter in this build";
    TempHome home;
    CMeterSimulator meter(SteadyProfile("KLV-PROM", "KP5003", 40, 2.5e-3));
    std::string error;
    ASSERT_TRUE(meter.Start(error)) << error;
    CMeterMetrics nothing;
    CMetricsServer taken(nothing);
    MetricsEndpoint endpoint;
    endpoint.port = 0;
    ASSERT_TRUE(taken.Start(endpoint, error)) << error;
    const std::string busy = "127.0.0.1:" + std::to_string(taken.Port());
    const ProcessResult refused =
        RunProgram({kCli, "monitor", "--metrics", busy, meter.PortPath()});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err, "Cannot serve metrics on " + busy + ": Address already in use\n");
    EXPECT_EQ(ReceivedText(meter), "") << "no probe when the page cannot be served";
    EXPECT_EQ(RunProgram({kCli, "monitor", "--metrics", "lab-pc:1"}).exitCode, 2);

    Subprocess record({kCli, "record", "--prefix", home.Path() + "/run", "--duration", "30",
                       "--metrics", "127.0.0.1:0", meter.PortPath()});
    ASSERT_TRUE(record.WaitForOutput(".txt\n", 15000)) << record.Output();
    EXPECT_EQ(record.Output().find("http"), std::string::npos) << "the file's path comes first";
    // The URL is told on the error stream; the page shows the run while it records.
    std::string page;
    int port = 0;
    ASSERT_TRUE(WaitUntil([&] {
        port = ListeningPort(record.Pid());
        if (port == 0)
            return false;
        page = HttpGet(port, "/metrics").body;
        return page.find("kelvarin_acquisition_running 1") != std::string::npos &&
               page.find("kelvarin_acquisition_lines_total 0") == std::string::npos;
    })) << page;
    EXPECT_NE(page.find("kelvarin_power_watts{position=\"1\",serial=\"KP5003\""), std::string::npos)
        << page;
    record.Signal(SIGINT);
    const ProcessResult r = record.Finish(10000);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(
        r.err.find("Serving metrics on http://127.0.0.1:" + std::to_string(port) + "/metrics\n"),
        std::string::npos)
        << r.err;
}

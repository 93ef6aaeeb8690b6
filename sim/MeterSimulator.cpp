#include "sim/MeterSimulator.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kIdleSleepMs = 5;
constexpr int kPollMs = 5;
// A thread that falls further behind than this restarts the schedule instead of bursting.
constexpr double kMaxLagMs = 1000.0;

double NowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string ErrnoText(const char* what, int error) {
    return std::string(what) + ": " + std::generic_category().message(error);
}

// Closes the descriptor unless released, so every failure path of Start closes it.
class FdGuard {
public:
    explicit FdGuard(int fd) : m_fd(fd) {}
    ~FdGuard() {
        if (m_fd >= 0)
            close(m_fd);
    }
    FdGuard(const FdGuard&) = delete;
    FdGuard& operator=(const FdGuard&) = delete;
    int Get() const { return m_fd; }
    int Release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

double SaneRate(double rate) {
    if (!std::isfinite(rate) || rate <= 0)
        return 20.0;
    return std::clamp(rate, 0.01, 1000.0);
}

template <class T> void PushBounded(std::vector<T>& log, T value) {
    if (log.size() >= CMeterSimulator::kLogSize)
        log.erase(log.begin());
    log.push_back(std::move(value));
}

} // namespace

bool ParseMeterFault(const std::string& text, MeterFault& fault) {
    static const struct {
        const char* name;
        MeterFault fault;
    } kNames[] = {{"none", MeterFault::None},
                  {"garbage", MeterFault::NonNumberLines},
                  {"no-crlf", MeterFault::NoLineEnd},
                  {"silence", MeterFault::Silence},
                  {"hangup", MeterFault::HangUp}};
    for (const auto& entry : kNames) {
        if (text == entry.name) {
            fault = entry.fault;
            return true;
        }
    }
    return false;
}

std::string LinkName(const MeterProfile& profile) {
    std::string name = "usb-Kelvarin_Simulated_Meter_";
    const std::string serial = profile.serialReply.size() > 4 ? profile.serialReply.substr(4) : "";
    for (char c : serial)
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name + "-if00-port0";
}

MeterProfile DefaultMeterProfile(int index) {
    // Thermal heads for the watts, photodiode heads down to the nanowatts.
    static const struct {
        const char* name;
        const char* serial;
        double watts;
        double noise;
    } kMeters[] = {
        {"KLV-10W", "S/N KV2401", 7.5, 0.002},      {"KLV-3W", "S/N KV2402", 0.82, 0.002},
        {"KLV-300M", "S/N KV2403", 0.064, 0.003},   {"KLV-30M", "S/N KV2404", 5.3e-3, 0.004},
        {"KLV-PD3M", "S/N KV2405", 4.1e-4, 0.005},  {"KLV-PD300U", "S/N KV2406", 3.7e-5, 0.008},
        {"KLV-PD30U", "S/N KV2407", 2.9e-6, 0.012}, {"KLV-PD3U", "S/N KV2408", 1.8e-7, 0.02},
    };
    constexpr int kCount = static_cast<int>(sizeof kMeters / sizeof kMeters[0]);
    const auto& meter = kMeters[((index % kCount) + kCount) % kCount];
    MeterProfile profile;
    profile.name = meter.name;
    profile.serialReply = meter.serial;
    profile.nominalWatts = meter.watts;
    profile.noise = meter.noise;
    profile.seed = 0x4b56u + static_cast<uint32_t>(index) * 7919u;
    return profile;
}

double ModelPower(const MeterProfile& profile, double tSeconds, int wavelengthNm) {
    double power = profile.nominalWatts;
    if (profile.drift && std::isfinite(tSeconds)) {
        // Three percent over a three-minute period; the phase differs from meter to meter.
        double phase = static_cast<double>(profile.seed % 1000u) * (2 * kPi / 1000.0);
        power *= 1.0 + 0.03 * std::sin(2 * kPi * tSeconds / 180.0 + phase);
    }
    if (profile.sagAfterSeconds >= 0 && tSeconds > profile.sagAfterSeconds &&
        profile.sagMinutes > 0) {
        const double minutes = (tSeconds - profile.sagAfterSeconds) / 60.0;
        power *= 1.0 - profile.sagDepth * (1.0 - std::exp(-minutes / profile.sagMinutes));
    }
    // Exactly 1 at 1064 nm, saturating at +-12 % far from it.
    power *= 1.0 + 0.12 * std::tanh((wavelengthNm - 1064.0) / 800.0);
    return power;
}

std::string FormatReading(double watts) {
    // A reading is always a number; faults write non-numbers on purpose, never by accident.
    if (!std::isfinite(watts))
        watts = 0.0;
    char text[32];
    auto result = std::to_chars(text, text + sizeof text, watts, std::chars_format::scientific, 3);
    std::string out(text, result.ptr);
    for (char& c : out) {
        if (c == 'e')
            c = 'E';
    }
    return out;
}

CMeterSimulator::CMeterSimulator(MeterProfile profile)
    : m_profile(std::move(profile)), m_rate(SaneRate(m_profile.readingsPerSecond)),
      m_random(m_profile.seed) {}

CMeterSimulator::~CMeterSimulator() {
    Stop();
}

namespace {

// A raw, non-blocking pseudo-terminal master and the path of its slave side.
bool OpenPty(int& masterFd, std::string& slavePath, std::string& error) {
    FdGuard master(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (master.Get() < 0) {
        error = ErrnoText("posix_openpt", errno);
        return false;
    }
    if (grantpt(master.Get()) != 0 || unlockpt(master.Get()) != 0) {
        error = ErrnoText("grantpt/unlockpt", errno);
        return false;
    }
    char path[128];
    int failed = ptsname_r(master.Get(), path, sizeof path);
    if (failed != 0) {
        error = ErrnoText("ptsname_r", failed);
        return false;
    }
    // Raw on the master sets the line discipline of the slave: no echo, no line editing.
    termios attributes{};
    if (tcgetattr(master.Get(), &attributes) != 0) {
        error = ErrnoText("tcgetattr", errno);
        return false;
    }
    cfmakeraw(&attributes);
    if (tcsetattr(master.Get(), TCSANOW, &attributes) != 0) {
        error = ErrnoText("tcsetattr", errno);
        return false;
    }
    int flags = fcntl(master.Get(), F_GETFL);
    if (flags < 0 || fcntl(master.Get(), F_SETFL, flags | O_NONBLOCK) != 0) {
        error = ErrnoText("fcntl", errno);
        return false;
    }
    slavePath = path;
    masterFd = master.Release();
    return true;
}

} // namespace

bool CMeterSimulator::Start(std::string& error) {
    if (m_thread.joinable()) {
        error = "the simulator is already running";
        return false;
    }
    int master = -1;
    std::string path;
    if (!OpenPty(master, path, error))
        return false;
    if (!m_linkPath.empty() && !PointLink(path, error)) {
        close(master);
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_pathLock);
        m_portPath = path;
    }
    m_master = master;
    m_stop = false;
    m_streaming = false;
    m_readingsSent = 0;
    m_replugDownMs = -1;
    m_plugInNow = false;
    m_replugs = 0;
    m_reader = CMeterCommandReader();
    m_pending.clear();
    m_pendingReading.clear();
    m_peerAbsent = false;
    m_startMs = NowMs();
    m_nextDueMs = m_startMs;
    m_thread = std::thread(&CMeterSimulator::Run, this);
    return true;
}

std::string CMeterSimulator::PortPath() const {
    std::lock_guard<std::mutex> lock(m_pathLock);
    return m_portPath;
}

std::string CMeterSimulator::StablePath() const {
    return m_linkPath.empty() ? PortPath() : m_linkPath;
}

bool CMeterSimulator::PointLink(const std::string& target, std::string& error) {
    // A new link renamed over the old one, so that it never names a half-made path.
    const std::string temporary = m_linkPath + ".new";
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0) {
        error = ErrnoText(("symlink " + temporary).c_str(), errno);
        return false;
    }
    if (::rename(temporary.c_str(), m_linkPath.c_str()) != 0) {
        error = ErrnoText(("rename " + m_linkPath).c_str(), errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

void CMeterSimulator::Replug(int downMs) {
    m_replugDownMs = std::max(0, downMs);
}

void CMeterSimulator::PlugIn() {
    m_plugInNow = true;
}

void CMeterSimulator::BeginReplug(int downMs) {
    // The new pseudo-terminal is opened before the old one closes, so it gets another number:
    // the old path never reaches the meter again, only the link does.
    std::string error;
    if (m_nextMaster < 0 && !OpenPty(m_nextMaster, m_nextPath, error))
        m_nextMaster = -1; // no new port: the meter stays unplugged
    // While it is out its link is gone, as the system removes an unplugged adapter's: the old
    // number is free once the port closes and may be another meter's (another test's) by the
    // time someone retries the link.
    if (!m_linkPath.empty())
        ::unlink(m_linkPath.c_str());
    CloseMaster();
    m_streaming = false;
    m_reader = CMeterCommandReader();
    m_replugDueMs = NowMs() + downMs;
}

void CMeterSimulator::FinishReplug() {
    std::string error;
    if (!m_linkPath.empty())
        PointLink(m_nextPath, error); // on failure the link still names the old, dead port
    {
        std::lock_guard<std::mutex> lock(m_pathLock);
        m_portPath = m_nextPath;
    }
    m_master = std::exchange(m_nextMaster, -1);
    m_peerAbsent = false;
    m_wavelength = 1064;
    m_anticipation = true;
    ++m_replugs;
}

void CMeterSimulator::Stop() {
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    CloseMaster();
    if (m_nextMaster >= 0)
        close(m_nextMaster);
    m_nextMaster = -1;
    if (!m_linkPath.empty())
        ::unlink(m_linkPath.c_str());
    m_streaming = false;
}

void CMeterSimulator::CloseMaster() {
    if (m_master >= 0)
        close(m_master);
    m_master = -1;
    m_pending.clear();
    m_pendingReading.clear();
    m_answers.clear();
}

void CMeterSimulator::SetFault(MeterFault fault) {
    m_fault = fault;
}

void CMeterSimulator::SetReadingsPerSecond(double rate) {
    m_rate = SaneRate(rate);
}

std::vector<ReceivedByte> CMeterSimulator::ReceivedBytes() const {
    std::lock_guard<std::mutex> lock(m_logLock);
    return m_bytes;
}

std::vector<MeterCommand> CMeterSimulator::ReceivedCommands() const {
    std::lock_guard<std::mutex> lock(m_logLock);
    return m_commands;
}

std::vector<std::string> CMeterSimulator::SentReadings() const {
    std::lock_guard<std::mutex> lock(m_logLock);
    return m_sent;
}

void CMeterSimulator::ClearLogs() {
    std::lock_guard<std::mutex> lock(m_logLock);
    m_bytes.clear();
    m_commands.clear();
    m_sent.clear();
}

void CMeterSimulator::Run() {
#ifdef __linux__
    pthread_setname_np(pthread_self(), "kv-meter"); // names it in top -H, gdb and tests
#endif
    while (!m_stop) {
        const int downMs = m_replugDownMs.exchange(-1);
        if (downMs >= 0)
            BeginReplug(downMs);
        // A plug-in asked before the re-plug has begun waits for it.
        if (m_nextMaster >= 0 && (NowMs() >= m_replugDueMs || m_plugInNow.exchange(false)))
            FinishReplug();
        if (m_fault == MeterFault::HangUp)
            CloseMaster();
        if (m_master < 0) {
            SleepMs(kIdleSleepMs);
            continue;
        }

        double now = NowMs();
        double waitMs = kPollMs;
        if (m_streaming)
            waitMs = std::min(waitMs, std::max(0.0, m_nextDueMs - now));
        int64_t fieldMs = m_reader.MsUntilDeadline(static_cast<int64_t>(now));
        if (fieldMs >= 0)
            waitMs = std::min(waitMs, static_cast<double>(fieldMs));
        pollfd pfd{m_master, POLLIN, 0};
        if (!m_pending.empty())
            pfd.events |= POLLOUT;
        int ready = poll(&pfd, 1, static_cast<int>(std::ceil(waitMs)));
        if (ready < 0 && errno != EINTR) {
            SleepMs(kIdleSleepMs);
            continue;
        }
        m_peerAbsent = ready > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
        m_listening = !m_peerAbsent;
        if (m_peerAbsent) {
            // Half a line for nobody: the next listener starts on a fresh line.
            m_pending.clear();
            m_pendingReading.clear();
        }

        m_nowMs = NowMs();
        // While a wavelength field is open, the port is read even when poll woke the thread for
        // something else: on a busy machine it may run long after poll returned, and a byte
        // that came meanwhile must be seen before the field is judged idle.
        const bool fieldOpen = m_reader.MsUntilDeadline(static_cast<int64_t>(m_nowMs)) >= 0;
        if ((ready > 0 && (pfd.revents & POLLIN) != 0) || fieldOpen)
            ReadCommands();
        if (auto command = m_reader.Poll(static_cast<int64_t>(m_emptyMs)))
            Handle(*command);

        if (m_fault != MeterFault::Silence && !m_peerAbsent)
            FlushPending();
        SendDueAnswers(m_nowMs);
        StreamDue(m_nowMs);

        if (m_peerAbsent)
            SleepMs(kIdleSleepMs); // poll reports the hang-up at once; do not spin on it
    }
}

void CMeterSimulator::ReadCommands() {
    char buffer[256];
    ssize_t count;
    double before = NowMs();
    while ((count = read(m_master, buffer, sizeof buffer)) > 0) {
        // Stamped once read, never before: a byte written after poll woke the thread is in
        // this read too, and a stamp taken earlier would show it before it was sent. It came
        // after the port was last seen empty, which is what its idle gap is judged from: a
        // thread woken late must not take its own wait for a gap the sender left.
        const double arrivedMs = NowMs();
        for (ssize_t i = 0; i < count; ++i) {
            {
                std::lock_guard<std::mutex> lock(m_logLock);
                PushBounded(m_bytes, ReceivedByte{buffer[i], arrivedMs});
            }
            if (auto command = m_reader.Feed(buffer[i], static_cast<int64_t>(m_emptyMs),
                                             static_cast<int64_t>(arrivedMs)))
                Handle(*command);
        }
        before = NowMs();
    }
    m_emptyMs = before; // the read that ended the loop found nothing queued since
}

void CMeterSimulator::Handle(const MeterCommand& command) {
    {
        std::lock_guard<std::mutex> lock(m_logLock);
        PushBounded(m_commands, command);
    }
    switch (command.kind) {
    case MeterCommand::AskName:
        Answer(m_profile.name + "\r\n");
        break;
    case MeterCommand::AskSerial:
        Answer(m_profile.serialReply + "\r\n");
        break;
    case MeterCommand::StartStream:
        if (!m_streaming) {
            m_streaming = true;
            m_nextDueMs = m_nowMs;
        }
        break;
    case MeterCommand::StopStream:
        m_streaming = false;
        break;
    case MeterCommand::SetWavelength:
        // A meter has no calibration for an impossible wavelength and keeps the one it has.
        if (command.wavelength > 0)
            m_wavelength = command.wavelength;
        break;
    case MeterCommand::AnticipationOn:
        m_anticipation = true;
        break;
    case MeterCommand::AnticipationOff:
        m_anticipation = false;
        break;
    }
}

bool CMeterSimulator::FlushPending() {
    while (!m_pending.empty()) {
        ssize_t written = write(m_master, m_pending.data(), m_pending.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        m_pending.erase(0, static_cast<size_t>(written));
    }
    if (!m_pendingReading.empty()) {
        LogReading(m_pendingReading);
        m_pendingReading.clear();
    }
    return true;
}

CMeterSimulator::SendResult CMeterSimulator::Send(const std::string& text) {
    if (m_master < 0 || m_peerAbsent || m_fault == MeterFault::Silence ||
        m_fault == MeterFault::HangUp || !FlushPending())
        return SendResult::Dropped;
    size_t done = 0;
    while (done < text.size()) {
        ssize_t written = write(m_master, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            break;
        done += static_cast<size_t>(written);
    }
    if (done == text.size())
        return SendResult::Whole;
    if (done == 0)
        return SendResult::Dropped; // EAGAIN: the line is lost, as on a full UART
    m_pending = text.substr(done);
    return SendResult::Partial;
}

void CMeterSimulator::Answer(const std::string& text) {
    const double delay = std::max(0.0, m_profile.replyDelayMs);
    if (delay == 0 && m_profile.replyRestMs <= 0) {
        Send(text);
        return;
    }
    if (m_profile.replyRestMs > delay) {
        const size_t half = text.size() / 2;
        m_answers.push_back({m_nowMs + delay, text.substr(0, half)});
        m_answers.push_back({m_nowMs + m_profile.replyRestMs, text.substr(half)});
    } else {
        m_answers.push_back({m_nowMs + delay, text});
    }
    std::stable_sort(m_answers.begin(), m_answers.end(),
                     [](const DueAnswer& a, const DueAnswer& b) { return a.dueMs < b.dueMs; });
}

void CMeterSimulator::SendDueAnswers(double nowMs) {
    size_t sent = 0;
    while (sent < m_answers.size() && m_answers[sent].dueMs <= nowMs)
        Send(m_answers[sent++].text);
    m_answers.erase(m_answers.begin(), m_answers.begin() + static_cast<std::ptrdiff_t>(sent));
}

void CMeterSimulator::LogReading(const std::string& text) {
    const uint64_t number = ++m_readingsSent;
    if (m_sentObserver)
        m_sentObserver(number, NowMs());
    std::lock_guard<std::mutex> lock(m_logLock);
    PushBounded(m_sent, text);
}

void CMeterSimulator::StreamDue(double nowMs) {
    if (!m_streaming || nowMs < m_nextDueMs)
        return;
    if (nowMs - m_nextDueMs > kMaxLagMs)
        m_nextDueMs = nowMs;
    while (nowMs >= m_nextDueMs) {
        m_nextDueMs += 1000.0 / m_rate.load();
        double power = ModelPower(m_profile, (nowMs - m_startMs) / 1000.0, m_wavelength) *
                       (1.0 + m_profile.noise * m_normal(m_random));
        std::string text = FormatReading(power);
        MeterFault fault = m_fault;
        SendResult result = Send(text + (fault == MeterFault::NoLineEnd ? " " : "\r\n"));
        if (result == SendResult::Whole)
            LogReading(text);
        else if (result == SendResult::Partial)
            m_pendingReading = text;
        if (fault == MeterFault::NonNumberLines) {
            Send(m_errLine ? "ERR\r\n" : "OVER RANGE\r\n");
            m_errLine = !m_errLine;
        }
    }
}

bool CSimulatorSet::Start(int count, std::string& error, const std::string& linkDir) {
    std::vector<MeterProfile> profiles;
    for (int i = 0; i < count; ++i)
        profiles.push_back(DefaultMeterProfile(i));
    return Start(profiles, error, linkDir);
}

bool CSimulatorSet::Start(const std::vector<MeterProfile>& profiles, std::string& error,
                          const std::string& linkDir) {
    Stop();
    if (profiles.empty() || profiles.size() > 8) {
        error = "the number of meters must be 1 to 8";
        return false;
    }
    for (size_t i = 0; i < profiles.size(); ++i) {
        auto meter = std::make_unique<CMeterSimulator>(profiles[i]);
        if (!linkDir.empty())
            meter->SetLinkPath(linkDir + "/" + LinkName(profiles[i]));
        std::string why;
        if (!meter->Start(why)) {
            error = "meter " + std::to_string(i) + ": " + why;
            Stop();
            return false;
        }
        m_meters.push_back(std::move(meter));
    }
    return true;
}

void CSimulatorSet::Stop() {
    for (auto& meter : m_meters)
        meter->Stop();
    m_meters.clear();
}

std::vector<std::string> CSimulatorSet::PortPaths() const {
    std::vector<std::string> paths;
    for (const auto& meter : m_meters)
        paths.push_back(meter->StablePath());
    return paths;
}

std::string CSimulatorSet::PortsVariable() const {
    std::string joined;
    for (const auto& meter : m_meters) {
        if (!joined.empty())
            joined += ':';
        joined += meter->StablePath();
    }
    return joined;
}

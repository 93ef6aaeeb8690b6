#include "channel/Channel.h"

#include "detectors/ChannelConfigFile.h"
#include "link/DetectorProtocol.h"
#include "link/Ticks.h"

#include <algorithm>

#ifdef __linux__
#include <pthread.h>
#endif

namespace Protocol = DetectorProtocol;

namespace {

// A lost meter is tried every two seconds; the worker looks at the clock this often.
constexpr auto kLostPeriod = std::chrono::milliseconds(250);

} // namespace

CChannel::CChannel() : m_dwStartTicks(TickCount()) {
    m_worker = std::thread([this] { WorkerProc(); });
}

CChannel::~CChannel() {
    {
        std::lock_guard<std::mutex> guard(m_queueLock);
        m_bStop = true;
    }
    m_pacer.Cut();
    m_wake.notify_all();
    if (m_worker.joinable())
        m_worker.join();
}

void CChannel::Post(std::function<Outcome()> work, Done done, const std::string& bindPort) {
    {
        // Under the queue's lock, so that a close carried out meanwhile sees the bind pending.
        std::lock_guard<std::mutex> guard(m_queueLock);
        const bool binds = !bindPort.empty();
        m_requests.push_back({++m_nSequence, std::move(work), std::move(done), binds});
        if (binds) {
            ++m_nPendingBinds;
            m_link.SetConnecting(bindPort);
        }
    }
    m_wake.notify_all();
}

void CChannel::SetEventHandler(OnEvent handler) {
    std::lock_guard<std::mutex> guard(m_hookLock);
    m_onEvent = std::move(handler);
}

void CChannel::SetReadingObserver(OnReading observer) {
    std::lock_guard<std::mutex> guard(m_hookLock);
    m_onReading = std::move(observer);
}

void CChannel::Tell(ChannelEvent event, const std::string& detail) {
    std::lock_guard<std::mutex> guard(m_hookLock);
    if (m_onEvent)
        m_onEvent(event, detail);
}

// Requests.

void CChannel::RequestConnect(const CChannelConfig& config, bool showLevels, Done done) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_config = config;
        if (showLevels)
            ShowLevelsLocked();
    }
    // Bound from now on: the frame gives the next detector the next position at once, and the
    // pane says that its meter has not answered yet.
    const std::string port = config.m_strPort;
    Post([this, port] { return Connect(port); }, std::move(done), port);
    Touch();
}

void CChannel::RequestConfigure(const CChannelConfig& config, Done done) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_config = config;
        ShowLevelsLocked();
    }
    Touch();
    // Each request sends the settings it was made with.
    const int wavelength = config.m_nWavelength;
    const bool anticipation = config.m_bAnticipation;
    Post([this, wavelength, anticipation] { return Configure(wavelength, anticipation); },
         std::move(done));
}

void CChannel::RequestIdentify(const std::string& portName, Done done) {
    Post([this, portName] { return Identify(portName); }, std::move(done), portName);
    Touch();
}

void CChannel::RequestClose(Done done) {
    {
        std::lock_guard<std::mutex> guard(m_queueLock);
        m_nCutBefore = ++m_nSequence;
        m_requests.push_back({m_nCutBefore,
                              [this] {
                                  Close();
                                  return Outcome{};
                              },
                              std::move(done)});
    }
    // A resume being tried, or a meter being started, ends at its next pause.
    m_pacer.Cut();
    m_wake.notify_all();
}

// The worker.

void CChannel::WorkerProc() {
#ifdef __linux__
    pthread_setname_np(pthread_self(), "kv-poll"); // names it in top -H, gdb and tests
#endif
    for (;;) {
        Request request;
        bool cut = false;
        {
            std::unique_lock<std::mutex> lock(m_queueLock);
            const auto ready = [this] { return m_bStop || !m_requests.empty(); };
            switch (m_link.State()) {
            case LinkState::Closed:
            case LinkState::Connecting:
                // Nothing to read until a request comes, and no wake-up meanwhile.
                m_wake.wait(lock, ready);
                break;
            case LinkState::Connected:
                m_wake.wait_for(lock, kPollPeriod, ready);
                break;
            case LinkState::Lost:
                m_wake.wait_for(lock, kLostPeriod, ready);
                break;
            }
            if (m_bStop)
                break;
            if (!m_requests.empty()) {
                request = std::move(m_requests.front());
                m_requests.pop_front();
                if (request.binds)
                    --m_nPendingBinds;
                cut = request.sequence < m_nCutBefore;
                if (request.sequence == m_nCutBefore)
                    m_pacer.Resume(); // the close itself runs at the meter's pace
            }
        }
        if (request.work) {
            // A request made before a close is dropped: the close undoes it anyway.
            Outcome outcome;
            if (cut) {
                outcome.ok = false;
                outcome.cut = true;
            } else {
                outcome = request.work();
            }
            if (request.done)
                request.done(outcome);
            continue;
        }
        PollOnce();
    }
    // Leaving: a meter still open is stopped and its port closed.
    m_link.SetClosed();
    Protocol::CloseMeter(m_port);
}

void CChannel::PollOnce() {
    float gain, offset;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        gain = m_config.m_fGain;
        offset = m_config.m_fOffset;
    }
    const LinkEvent event = m_link.Poll(
        gain, offset, [this](float value) { OnNewValue(value); },
        [this] {
            std::lock_guard<std::mutex> guard(m_lock);
            return Protocol::ResumeSettings{m_config.m_strSerial, m_config.m_nWavelength,
                                            m_config.m_bAnticipation};
        },
        m_pacer);
    if (event == LinkEvent::None)
        return;
    Touch();
    if (event == LinkEvent::Lost)
        Tell(ChannelEvent::Lost, m_link.LossReason().Text());
    else
        Tell(ChannelEvent::Resumed, std::string());
}

void CChannel::LoseOnWriteFailure() {
    if (m_pacer.IsCut())
        return; // cut short by a close: no failure of the meter
    if (m_link.SetLost(m_port.LastError())) {
        Touch();
        Tell(ChannelEvent::Lost, m_link.LossReason().Text());
    }
}

std::vector<std::string> CChannel::TakeFailures() {
    std::vector<std::string> failures;
    std::lock_guard<std::mutex> guard(m_failureLock);
    failures.swap(m_failures);
    return failures;
}

CChannel::Outcome CChannel::OpenFailed(const std::string& portName) {
    Outcome outcome;
    outcome.ok = false;
    outcome.error = m_port.LastError();
    m_link.SetClosed();
    Touch();
    {
        std::lock_guard<std::mutex> guard(m_failureLock);
        m_failures.push_back(Protocol::OpenFailureText(portName, outcome.error));
    }
    return outcome;
}

CChannel::Outcome CChannel::Connect(const std::string& portName) {
    Outcome outcome;
    if (!Protocol::OpenMeterPort(m_port, portName, m_pacer)) {
        // Unbound: the pane shows no meter's title or levels, only its position.
        {
            std::lock_guard<std::mutex> guard(m_lock);
            const int32_t position = m_config.m_nPosition;
            m_config = CChannelConfig();
            m_config.m_nPosition = position;
            m_graph.m_bShowLevelHigh = false;
            m_graph.m_bShowLevelLow = false;
        }
        return OpenFailed(portName);
    }
    ResetGraph();
    outcome.openedAt = std::chrono::steady_clock::now();
    int wavelength;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        wavelength = m_config.m_nWavelength;
    }
    const bool started = Protocol::ApplyWavelengthAndStart(m_port, wavelength, m_pacer);
    // Connected first, so that a refused command makes it lost (tried again every 2 s).
    m_link.SetConnected(portName);
    Touch();
    if (!started)
        LoseOnWriteFailure();
    return outcome;
}

CChannel::Outcome CChannel::Configure(int wavelength, bool anticipation) {
    // Sent whatever the link: a closed port lets them fail silently.
    if (!Protocol::ApplyConfiguration(m_port, wavelength, anticipation, m_pacer) &&
        m_link.IsConnected())
        LoseOnWriteFailure();
    return Outcome{};
}

CChannel::Outcome CChannel::Identify(const std::string& portName) {
    Outcome outcome;
    if (!m_port.Open(ComAccess::DevicePath(portName), ComAccess::kMeterBaudRate))
        return OpenFailed(portName);
    std::string name, serial;
    const bool identified = Protocol::ReadIdentification(m_port, name, serial, m_pacer);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_config.m_strName = name;
        m_config.m_strSerial = serial;
    }
    const bool started = identified && Protocol::StartStream(m_port, m_pacer);
    m_link.SetConnected(portName);
    Touch();
    if (!started)
        LoseOnWriteFailure();
    return outcome;
}

void CChannel::Close() {
    Protocol::CloseMeter(m_port);
    {
        // Bound again already (a connect asked after this close): it stays bound while it waits.
        std::lock_guard<std::mutex> guard(m_queueLock);
        if (m_nPendingBinds > 0)
            m_link.SetConnecting(m_link.PortName());
        else
            m_link.SetClosed();
    }
    Touch();
}

// Readings, graph and statistics.

void CChannel::OnNewValue(float value) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        // The value before the count: whoever sees a reading counted reads its value.
        m_fValue.store(value);
        m_fLastReadingTime.store(
            std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
                .count());
        m_nReadingCount.fetch_add(1, std::memory_order_release);
        // Latched until "Reset Alarms"; a NaN compares false and raises nothing.
        if (value > m_config.m_fLevelHigh || value < m_config.m_fLevelLow) {
            if (!m_bAlarm.exchange(true))
                m_nAlarmTrips.fetch_add(1);
        }
        if (!m_bAcquiring.load())
            AppendSampleLocked(value);
        m_stats.AddSample(value);
    }
    std::lock_guard<std::mutex> guard(m_hookLock);
    if (m_onReading)
        m_onReading(value);
}

void CChannel::AppendSampleLocked(float value) {
    const float t = TickSeconds(TickCount(), m_dwStartTicks);
    m_graph.m_points.push_back({t, value});
    const auto limit = static_cast<size_t>(std::max(1, m_nGraphMaxPoints.load()));
    bool extremeDropped = false;
    while (m_graph.m_points.size() > limit) {
        const float oldest = m_graph.m_points.front().fValue;
        extremeDropped |= oldest == m_graph.m_fYMax || oldest == m_graph.m_fYMin;
        m_graph.m_points.pop_front(); // constant time: no copy of the rest
    }
    m_graph.m_nPointCount = static_cast<int32_t>(m_graph.m_points.size());
    if (!m_graph.m_bAutoScaleY)
        return;
    // The same range AutoScaleY finds, without a pass over every sample per reading: only a
    // dropped extreme, or a range set by hand, needs the full pass.
    if (extremeDropped || !m_bScaleFollowsData || m_graph.m_points.size() == 1) {
        m_graph.AutoScaleY();
        m_bScaleFollowsData = true;
    } else {
        if (value > m_graph.m_fYMax)
            m_graph.m_fYMax = value;
        if (value < m_graph.m_fYMin)
            m_graph.m_fYMin = value;
    }
}

void CChannel::ShowLevelsLocked() {
    m_graph.m_bShowLevelHigh = true;
    m_graph.m_fLevelHighLine = m_config.m_fLevelHigh;
    m_graph.m_bShowLevelLow = true;
    m_graph.m_fLevelLowLine = m_config.m_fLevelLow;
}

float CChannel::SampleForAcquisition() {
    const float value = m_fValue.load();
    if (m_bAcquiring.load()) {
        std::lock_guard<std::mutex> guard(m_lock);
        AppendSampleLocked(value);
        Touch(); // a lost meter's graph still moves on with each tick
    }
    return value;
}

void CChannel::SetAcquiring(bool acquiring) {
    m_bAcquiring.store(acquiring);
    Touch();
}

void CChannel::ResetGraph() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_graph.ResetData();
    m_bScaleFollowsData = false;
    m_stats.Reset();
    m_dwStartTicks = TickCount();
    Touch();
}

void CChannel::ResetStatistics() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_stats.Reset();
    Touch();
}

void CChannel::EnableStatistics() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_stats.m_bEnabled = true;
}

void CChannel::ResetAlarm() {
    m_bAlarm.store(false);
    Touch();
}

void CChannel::SetGraphMaxPoints(int points) {
    m_nGraphMaxPoints.store(points);
}

void CChannel::SetGraphScales(const GraphScales& scales) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_graph.m_bAutoScaleY = scales.autoY;
    m_graph.m_bAutoScaleX = scales.autoX;
    m_graph.m_fYMax = scales.yMax;
    m_graph.m_fYMin = scales.yMin;
    m_graph.m_fXMax = scales.xMax;
    m_graph.m_fXMin = scales.xMin;
    m_bScaleFollowsData = false;
    Touch();
}

CGraphRenderer CChannel::GraphSnapshot() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_graph;
}

CStatistics CChannel::StatisticsSnapshot() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_stats;
}

CChannelConfig CChannel::Config() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_config;
}

void CChannel::SetConfig(const CChannelConfig& config) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_config = config;
    Touch();
}

bool CChannel::SaveChannelConfig(std::string& error) const {
    const CChannelConfig config = Config();
    if (config.m_strName.empty())
        return true; // no meter identified on this channel: nothing to store
    return SaveChannelConfigFile(config.m_strSerial, config, error);
}

#include "channel/Channel.h"

#include "detectors/ChannelConfigFile.h"
#include "detectors/DisplayAidsFile.h"
#include "link/DetectorProtocol.h"
#include "link/Ticks.h"

#include <algorithm>

#ifdef __linux__
#include <pthread.h>
#endif

namespace Protocol = DetectorProtocol;

namespace {

int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

CChannel::CChannel() : m_dwStartTicks(TickCount()) {
    m_worker = std::thread([this] { WorkerProc(); });
}

CChannel::~CChannel() {
    {
        std::lock_guard<std::mutex> guard(m_queueLock);
        m_bStop = true;
    }
    m_gate.Advance(); // an exchange under way ends at its next pause or byte
    m_wake.Wake();
    if (m_worker.joinable())
        m_worker.join();
}

void CChannel::Post(Request request) {
    {
        std::lock_guard<std::mutex> guard(m_queueLock);
        request.sequence = ++m_nSequence;
        if (request.kind == Request::Kind::Close) {
            // Every exchange and request made so far is cut; the close runs under the new
            // generation, and so does whatever is asked after it.
            request.generation = m_gate.Advance();
            m_nCloseAsked = request.sequence;
        } else {
            request.generation = m_gate.Generation();
            if (request.kind == Request::Kind::Connect || request.kind == Request::Kind::Identify)
                m_nBindAsked = request.sequence;
        }
        m_requests.push_back(std::move(request));
    }
    m_wake.Wake();
    Touch();
}

LinkState CChannel::State() const {
    {
        std::lock_guard<std::mutex> guard(m_queueLock);
        if (m_nBindAsked > m_nCloseAsked && m_nBindAsked > m_nDone)
            return LinkState::Connecting; // the frame gives the next detector the next position
        if (m_nCloseAsked > m_nBindAsked && m_nCloseAsked > m_nDone)
            return LinkState::Closed;
    }
    return m_link.State();
}

bool CChannel::IsSilent() const {
    if (!HasReading())
        return false;
    const int64_t since = SteadyMs() - m_nLastReadingMs.load();
    return since >= std::chrono::duration_cast<std::chrono::milliseconds>(kSilentAfter).count();
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

void CChannel::TakeRecord(const CChannelConfig& config, bool showLevels) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_config = config;
    if (showLevels)
        ShowLevelsLocked();
}

void CChannel::RequestConnect(const CChannelConfig& config, bool showLevels, Done done) {
    TakeRecord(config, showLevels);
    Request request;
    request.kind = Request::Kind::Connect;
    request.port = config.m_strPort;
    request.wavelength = config.m_nWavelength;
    request.done = std::move(done);
    Post(std::move(request));
}

void CChannel::RequestConfigure(const CChannelConfig& config, Done done) {
    // The configuration dialog does not edit the zero, unit and reference: the channel's stand,
    // whatever was set while the dialog was open.
    CChannelConfig record = config;
    record.m_aids = DisplayAids();
    TakeRecord(record, true);
    // Each request sends the settings it was made with.
    Request request;
    request.kind = Request::Kind::Configure;
    request.wavelength = config.m_nWavelength;
    request.anticipation = config.m_bAnticipation;
    request.done = std::move(done);
    Post(std::move(request));
}

void CChannel::RequestIdentify(const std::string& portName, Done done) {
    Request request;
    request.kind = Request::Kind::Identify;
    request.port = portName;
    request.done = std::move(done);
    Post(std::move(request));
}

void CChannel::RequestClose(Done done) {
    Request request;
    request.kind = Request::Kind::Close;
    request.done = std::move(done);
    Post(std::move(request));
}

// The worker.

void CChannel::WorkerProc() {
#ifdef __linux__
    pthread_setname_np(pthread_self(), "kv-poll"); // names it in top -H, gdb and tests
#endif
    for (;;) {
        Request request;
        bool taken = false;
        {
            std::lock_guard<std::mutex> guard(m_queueLock);
            if (m_bStop)
                break;
            if (!m_requests.empty()) {
                request = std::move(m_requests.front());
                m_requests.pop_front();
                taken = true;
            }
        }
        if (taken) {
            Carry(request);
            continue;
        }
        WaitForWork();
    }
    Leave();
}

void CChannel::WaitForWork() {
    switch (m_link.State()) {
    case LinkState::Connected:
        // A streaming meter is read in batches: what it sends in the next 50 ms waits in the
        // driver. After that, the port itself wakes the worker; a silent meter costs nothing.
        if (std::chrono::steady_clock::now() < m_nextRead)
            m_wake.WaitUntil(m_nextRead);
        else if (m_port.WaitForInput(m_wake.Fd(), -1) == ComAccess::Wait::Readable)
            ReadOnce();
        else
            m_wake.Drain();
        break;
    case LinkState::Lost:
        if (const uint32_t due = m_link.MsUntilRetry(); due > 0)
            m_wake.Wait(static_cast<int>(due));
        else
            TryResume();
        break;
    case LinkState::Closed:
    case LinkState::Connecting:
        m_wake.Wait(-1); // nothing to read until a request comes
        break;
    }
}

void CChannel::Carry(const Request& request) {
    Outcome outcome;
    if (m_gate.IsStale(request.generation)) {
        // Made before a close, which undoes it anyway.
        outcome.ok = false;
        outcome.cut = true;
    } else {
        switch (request.kind) {
        case Request::Kind::Connect:
            outcome = Connect(request);
            break;
        case Request::Kind::Configure:
            outcome = Configure(request);
            break;
        case Request::Kind::Identify:
            outcome = Identify(request);
            break;
        case Request::Kind::Close:
            Close();
            break;
        }
    }
    {
        std::lock_guard<std::mutex> guard(m_queueLock);
        m_nDone = request.sequence;
    }
    Touch();
    if (request.done)
        request.done(outcome);
}

void CChannel::ReadOnce() {
    // Every channel's batches fall on the same 50 ms steps of the clock, so that the workers of
    // a bench wake together on one timer interrupt rather than each on its own.
    using Clock = std::chrono::steady_clock;
    constexpr Clock::duration step = kPollPeriod;
    m_nextRead = Clock::time_point((Clock::now().time_since_epoch() / step + 1) * step);
    float gain, offset;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        gain = m_config.m_fGain;
        offset = m_config.m_fOffset;
    }
    if (m_link.ReadStream(gain, offset, [this](float value) { OnNewValue(value); }) !=
        LinkEvent::Lost)
        return;
    TellLost();
}

void CChannel::TellLost() {
    ForgetReading(); // the value stays on show, greyed; nothing of it is live any more
    Touch();
    Tell(ChannelEvent::Lost, m_link.LossReason().Text());
}

void CChannel::TryResume() {
    const CExchangePacer pacer(m_gate, m_gate.Generation()); // a close cuts the try short
    const LinkEvent event = m_link.TryResume(
        [this] {
            std::lock_guard<std::mutex> guard(m_lock);
            return Protocol::ResumeSettings{m_config.m_strSerial, m_config.m_nWavelength,
                                            m_config.m_bAnticipation};
        },
        pacer);
    if (event != LinkEvent::Resumed)
        return;
    StartAnew();
    m_nextRead = std::chrono::steady_clock::now();
    Touch();
    Tell(ChannelEvent::Resumed, std::string());
}

void CChannel::Leave() {
    // A meter still open is stopped and its port closed; what was still asked is told.
    Protocol::CloseMeter(m_port);
    m_link.SetClosed();
    std::deque<Request> left;
    {
        std::lock_guard<std::mutex> guard(m_queueLock);
        left.swap(m_requests);
        m_nDone = m_nSequence;
    }
    for (const Request& request : left) {
        Outcome outcome;
        if (request.kind != Request::Kind::Close) {
            outcome.ok = false;
            outcome.cut = true;
        }
        if (request.done)
            request.done(outcome);
    }
}

void CChannel::ForgetReading() {
    m_nFreshReadings.store(0);
    m_fLastReadingTime.store(0.0);
    m_nLastReadingMs.store(0);
}

void CChannel::StartAnew(bool otherMeter) {
    ForgetReading();
    m_fValue.store(0.0f);
    if (otherMeter) {
        m_fHeld.store(0.0f); // nothing of the meter before is recorded for this one
        std::lock_guard<std::mutex> guard(m_lock);
        m_recent.Clear();
        m_peak.Reset();
    }
    m_bAlarm.store(false);
    Touch();
}

void CChannel::LoseOnWriteFailure(const CExchangePacer& pacer) {
    if (pacer.IsCut())
        return; // cut short by a close: no failure of the meter
    if (m_link.SetLost(m_port.LastError()))
        TellLost();
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
    {
        std::lock_guard<std::mutex> guard(m_failureLock);
        m_failures.push_back(Protocol::OpenFailureText(portName, outcome.error));
    }
    return outcome;
}

namespace {

CChannel::Outcome CutOutcome() {
    CChannel::Outcome outcome;
    outcome.ok = false;
    outcome.cut = true;
    return outcome;
}

} // namespace

CChannel::Outcome CChannel::Connect(const Request& request) {
    const CExchangePacer pacer(m_gate, request.generation);
    m_link.SetClosed();
    if (!Protocol::OpenMeterPort(m_port, request.port, pacer)) {
        // Unbound: the pane shows no meter's title or levels, only its position.
        {
            std::lock_guard<std::mutex> guard(m_lock);
            const int32_t position = m_config.m_nPosition;
            m_config = CChannelConfig();
            m_config.m_nPosition = position;
            m_graph.m_bShowLevelHigh = false;
            m_graph.m_bShowLevelLow = false;
        }
        return OpenFailed(request.port);
    }
    if (pacer.IsCut())
        return CutOutcome(); // the close that cut it stops the meter and closes the port
    ResetGraph();
    StartAnew(true);
    Outcome outcome;
    outcome.openedAt = std::chrono::steady_clock::now();
    const bool started = Protocol::ApplyWavelengthAndStart(m_port, request.wavelength, pacer);
    return Started(request.port, started, pacer, outcome);
}

CChannel::Outcome CChannel::Started(const std::string& portName, bool started,
                                    const CExchangePacer& pacer, const Outcome& outcome) {
    if (pacer.IsCut())
        return CutOutcome(); // the close that cut it stops the meter and closes the port
    // Connected first, so that a refused command makes it lost (tried again every 2 s).
    m_link.SetConnected(portName);
    m_nextRead = std::chrono::steady_clock::now();
    if (!started)
        LoseOnWriteFailure(pacer);
    return outcome;
}

CChannel::Outcome CChannel::Configure(const Request& request) {
    const CExchangePacer pacer(m_gate, request.generation);
    // Sent whatever the link: a closed port lets them fail silently.
    if (!Protocol::ApplyConfiguration(m_port, request.wavelength, request.anticipation, pacer) &&
        m_link.IsConnected())
        LoseOnWriteFailure(pacer);
    return pacer.IsCut() ? CutOutcome() : Outcome{};
}

CChannel::Outcome CChannel::Identify(const Request& request) {
    const CExchangePacer pacer(m_gate, request.generation);
    m_link.SetClosed();
    if (!m_port.Open(ComAccess::DevicePath(request.port), ComAccess::kMeterBaudRate))
        return OpenFailed(request.port);
    std::string name, serial;
    const bool identified = Protocol::ReadIdentification(m_port, name, serial, pacer);
    if (pacer.IsCut())
        return CutOutcome();
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_config.m_strName = name;
        m_config.m_strSerial = serial;
    }
    StartAnew(true);
    const bool started = identified && Protocol::StartStream(m_port, pacer);
    return Started(request.port, started, pacer, Outcome{});
}

void CChannel::Close() {
    // "*CSU" whole, at the meter's pace: a close is never cut short.
    Protocol::CloseMeter(m_port);
    m_link.SetClosed();
}

// Readings, graph and statistics.

void CChannel::OnNewValue(float calibrated) {
    float value;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        const int64_t nowMs = SteadyMs();
        m_recent.Add(nowMs, calibrated);
        value = calibrated - m_config.m_aids.m_fZero;
        m_peak.Add(value);
        // The value before the counts: whoever sees a reading counted reads its value.
        m_fValue.store(value);
        m_fHeld.store(value);
        m_fLastReadingTime.store(
            std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
                .count());
        m_nLastReadingMs.store(nowMs);
        m_nFreshReadings.fetch_add(1, std::memory_order_release);
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
    const float value = m_fHeld.load();
    if (m_bAcquiring.load()) {
        std::lock_guard<std::mutex> guard(m_lock);
        AppendSampleLocked(value);
        Touch(); // a lost meter's graph still moves on with each tick
    }
    return value;
}

bool CChannel::LiveValue(float& value) const {
    if (!HasReading() || IsSilent())
        return false;
    value = Value();
    return true;
}

bool CChannel::TakeZero() {
    std::lock_guard<std::mutex> guard(m_lock);
    const std::optional<double> mean = m_recent.Mean(SteadyMs());
    if (!mean)
        return false;
    m_config.m_aids.m_fZero = static_cast<float>(*mean);
    // The peak of readings zeroed otherwise would stand above every reading to come.
    m_peak.Reset();
    Touch();
    return true;
}

void CChannel::SetDisplayAids(const CDisplayAids& aids) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (aids.m_fZero != m_config.m_aids.m_fZero)
        m_peak.Reset();
    m_config.m_aids = aids;
    Touch();
}

CDisplayAids CChannel::DisplayAids() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_config.m_aids;
}

CPeakHold CChannel::Peak() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_peak;
}

void CChannel::ResetPeak() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_peak.Reset();
    Touch();
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
    return SaveChannelConfigFile(config.m_strSerial, config, error) &&
           SaveDisplayAidsFile(config.m_strSerial, config.m_aids, error);
}

// The link side of a pane: port, polling thread, readings, alarm, samples, statistics, commands.

#include "channel/KelvarinView.h"

#include "channel/RepaintTicker.h"
#include "channel/ScaleSelect.h"
#include "detectors/DetectorDlg.h"
#include "gui/MessageBox.h"
#include "link/DetectorProtocol.h"
#include "link/Ticks.h"
#include "res/CommandIds.h"

#include <QCloseEvent>

#include <chrono>

#include <pthread.h>

namespace Protocol = DetectorProtocol;

namespace {

constexpr auto kPollPeriod = std::chrono::milliseconds(50);
// A lost meter is tried every two seconds; the pass looks at the clock this often.
constexpr auto kLostPeriod = std::chrono::milliseconds(250);

} // namespace

CKelvarinView::CKelvarinView(QWidget* parent)
    : QWidget(parent), m_dwStartTicks(TickCount()), m_ticker(CRepaintTicker::Acquire()) {
    setAttribute(Qt::WA_OpaquePaintEvent); // every paint covers the whole pane
    m_fontSmall = MakeFont({15, 8, 500});
    m_fontLarge = MakeFont({30, 15, 500});
    m_ticker->Add(this, [this] { OnRepaintTick(); });
    m_pollThread = std::thread([this] { PollThreadProc(); });
}

CKelvarinView::~CKelvarinView() {
    m_ticker->Remove(this);
    StopPolling();
    // At exit the meter is stopped and the port closed, without a word to the user.
    ClosePort();
}

void CKelvarinView::OnRepaintTick() {
    const Shown now{m_nReadingCount.load(std::memory_order_relaxed),
                    m_nRevision.load(std::memory_order_relaxed), m_nDisplayMode, m_bAlarm.load(),
                    m_link.State()};
    if (now == m_shown)
        return;
    m_shown = now;
    update();
}

void CKelvarinView::StopPolling() {
    {
        std::lock_guard<std::mutex> guard(m_sleepLock);
        m_bStopPolling = true;
    }
    m_wake.notify_all();
    if (m_pollThread.joinable())
        m_pollThread.join();
}

void CKelvarinView::WakePolling() {
    // Taking the lock orders this with the thread's test of the state before it sleeps.
    { std::lock_guard<std::mutex> guard(m_sleepLock); }
    m_wake.notify_all();
}

void CKelvarinView::PollThreadProc() {
#ifdef __linux__
    pthread_setname_np(pthread_self(), "kv-poll"); // names it in top -H, gdb and tests
#endif
    for (;;) {
        if (m_link.IsBound()) {
            std::lock_guard<std::mutex> pass(m_pollPass);
            PollOnce();
        }
        std::unique_lock<std::mutex> sleep(m_sleepLock);
        const LinkState state = m_link.State();
        if (state == LinkState::Closed) {
            // No port: nothing to do until one is opened, and no wake-up meanwhile.
            m_wake.wait(sleep, [this] { return m_bStopPolling || m_link.IsBound(); });
        } else {
            m_wake.wait_for(sleep, state == LinkState::Connected ? kPollPeriod : kLostPeriod,
                            [this] { return m_bStopPolling; });
        }
        if (m_bStopPolling)
            return;
    }
}

void CKelvarinView::PollOnce() {
    // While the UI thread waits for an identification reply, nothing is read or parsed.
    if (m_bPauseReading.load())
        return;
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
        });
    if (event != LinkEvent::None)
        Touch();
}

void CKelvarinView::OnNewValue(float value) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_nReadingCount.fetch_add(1, std::memory_order_relaxed);
    m_fValue.store(value);
    // Latched until "Reset Alarms"; a NaN compares false and raises nothing.
    if (value > m_config.m_fLevelHigh || value < m_config.m_fLevelLow)
        m_bAlarm.store(true);
    if (!m_bAcquiring.load())
        AppendSampleLocked(value);
    m_stats.AddSample(value);
}

void CKelvarinView::AppendSampleLocked(float value) {
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

float CKelvarinView::SampleForAcquisition() {
    const float value = m_fValue.load();
    if (m_bAcquiring.load()) {
        std::lock_guard<std::mutex> guard(m_lock);
        AppendSampleLocked(value);
        Touch(); // a lost meter's graph still moves on with each tick
    }
    return value;
}

void CKelvarinView::ResetGraph() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_graph.ResetData();
    m_bScaleFollowsData = false;
    m_stats.Reset();
    m_dwStartTicks = TickCount();
    Touch();
}

void CKelvarinView::ResetStatistics() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_stats.Reset();
    Touch();
}

void CKelvarinView::EnableStatistics() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_stats.m_bEnabled = true;
}

void CKelvarinView::OpenPort(const std::string& portName) {
    {
        // Waits out a try of a lost meter, which uses the same port.
        std::lock_guard<std::mutex> pass(m_pollPass);
        m_link.SetClosed();
        if (Protocol::OpenMeterPort(m_dlgCom, portName))
            m_link.SetConnected(portName);
    }
    WakePolling();
    ResetGraph();
}

void CKelvarinView::ApplyWavelengthAndStart() {
    Protocol::ApplyWavelengthAndStart(m_dlgCom, m_config.m_nWavelength);
}

ConfigLoad CKelvarinView::LoadChannelConfig(std::string& error) {
    if (m_config.m_strSerial.empty())
        return ConfigLoad::Missing;
    CChannelConfig loaded = m_config;
    const ConfigLoad result = LoadChannelConfigFile(m_config.m_strSerial, loaded, error);
    if (result != ConfigLoad::Loaded)
        return result;
    std::lock_guard<std::mutex> guard(m_lock);
    m_config = loaded;
    m_graph.ResetData();
    m_bScaleFollowsData = false;
    m_graph.m_bShowLevelHigh = true;
    m_graph.m_fLevelHighLine = m_config.m_fLevelHigh;
    m_graph.m_bShowLevelLow = true;
    m_graph.m_fLevelLowLine = m_config.m_fLevelLow;
    Touch();
    return result;
}

bool CKelvarinView::SaveChannelConfig(std::string& error) {
    if (m_config.m_strName.empty())
        return true; // no meter identified on this pane: nothing to store
    return SaveChannelConfigFile(m_config.m_strSerial, m_config, error);
}

void CKelvarinView::SetConfig(const CChannelConfig& config) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_config = config;
    Touch();
}

void CKelvarinView::OnChannelConfiguration() {
    CDetectorDlg dialog(this);
    dialog.m_config = m_config;
    if (dialog.exec() != QDialog::Accepted)
        return;
    SetConfig(dialog.m_config);
    // Sent whether or not the port is open: a closed port lets them fail silently.
    Protocol::ApplyConfiguration(m_dlgCom, m_config.m_nWavelength, m_config.m_bAnticipation);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_graph.m_bShowLevelHigh = true;
        m_graph.m_fLevelHighLine = m_config.m_fLevelHigh;
        m_graph.m_bShowLevelLow = true;
        m_graph.m_fLevelLowLine = m_config.m_fLevelLow;
    }
    emit channelConfigured(m_config.m_nPosition);
    update();
}

void CKelvarinView::PauseReading() {
    m_bPauseReading.store(true);
    // Wait out a pass that began before the flag was raised: from here on the polling thread
    // leaves every reply in the port's queue.
    std::lock_guard<std::mutex> pass(m_pollPass);
}

void CKelvarinView::IdentifyMeter() {
    if (IsBound())
        return;
    if (m_dlgCom.exec() != QDialog::Accepted)
        return;
    PauseReading();
    m_link.SetConnected(m_dlgCom.m_strPort);
    std::string name, serial;
    Protocol::ReadIdentification(m_dlgCom, name, serial);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_config.m_strName = name;
        m_config.m_strSerial = serial;
    }
    m_bPauseReading.store(false);
    WakePolling();
    Protocol::StartStream(m_dlgCom);
    Touch();
}

void CKelvarinView::ClosePort() {
    m_link.SetClosed(); // first: a try of a lost meter running now closes what it opened
    Protocol::CloseMeter(m_dlgCom);
    Touch();
}

void CKelvarinView::closeEvent(QCloseEvent* event) {
    // A close request addressed to the pane itself, never the application's exit.
    KelvarinMessageBox(this, QStringLiteral("Closing!"));
    ClosePort();
    QWidget::closeEvent(event);
}

void CKelvarinView::DestroyWindow() {
    KelvarinMessageBox(this, QStringLiteral("DestroyWindow!"));
    if (IsBound()) {
        KelvarinMessageBox(this, QStringLiteral("Closing Port!"));
        ClosePort();
    }
    hide();
}

void CKelvarinView::OnCommand(int id) {
    Touch();
    switch (id) {
    case Command::FullScreen:
        emit showPositionFull(m_config.m_nPosition);
        break;
    case Command::RealTimeDisplay:
    case Command::RealTimeDisplayAlt:
        m_nDisplayMode = RealTime;
        break;
    case Command::GraphicDisplay:
        m_nDisplayMode = Graphic;
        break;
    case Command::StatisticsDisplay:
        // Statistics count from the first time this display is chosen, for good.
        m_nDisplayMode = Statistics;
        EnableStatistics();
        break;
    case Command::ChannelConfiguration:
        OnChannelConfiguration();
        break;
    case Command::ResetGraphic:
        ResetGraph();
        break;
    case Command::ResetStatistics:
        ResetStatistics();
        break;
    case Command::ResetAlarms:
        m_bAlarm.store(false);
        break;
    case Command::ClosePort:
        ClosePort();
        break;
    case Command::IdentifyMeter:
        IdentifyMeter();
        break;
    default:
        break;
    }
}

CGraphRenderer CKelvarinView::GraphSnapshot() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_graph;
}

CStatistics CKelvarinView::StatisticsSnapshot() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_stats;
}

void CKelvarinView::SetGraphScales(const CScaleSelect& dialog) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_graph.m_bAutoScaleY = dialog.m_bAutoY;
    m_graph.m_bAutoScaleX = dialog.m_bAutoX;
    m_graph.m_fYMax = dialog.m_fMaxY;
    m_graph.m_fYMin = dialog.m_fMinY;
    m_graph.m_fXMax = dialog.m_fMaxX;
    m_graph.m_fXMin = dialog.m_fMinX;
    m_bScaleFollowsData = false;
    Touch();
}

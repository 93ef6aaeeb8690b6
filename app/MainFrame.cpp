#include "app/MainFrame.h"

#include "acquisition/DataSamplingDlg.h"
#include "analysis/PostAnalyseDlg.h"
#include "app/AboutDlg.h"
#include "app/KelvarinDoc.h"
#include "app/ToolbarIcons.h"
#include "capture/CaptureEcran.h"
#include "capture/WindowCapture.h"
#include "channel/KelvarinView.h"
#include "detectors/ConfigDamageReport.h"
#include "gui/MessageBox.h"
#include "monitor/MetricsDlg.h"
#include "res/CommandIds.h"
#include "settings/DataRoot.h"
#include "settings/GraphParamDlg.h"
#include "settings/ProfileStore.h"

#include <QAction>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include <algorithm>

CMainFrame::CMainFrame(CKelvarinDoc* document, QWidget* parent)
    : QMainWindow(parent), m_pDocument(document) {
    setObjectName(QStringLiteral("MainFrame"));
    setWindowIcon(KelvarinIcon());
    m_strScreenshotBase =
        QFile::encodeName(
            ReadProfileString(
                QStringLiteral("Param"), QStringLiteral("CaptureScreen"),
                QFile::decodeName(QByteArray::fromStdString(DataRoot() + "/CaptureScreen"))))
            .toStdString();
    m_nGraphBufferSize =
        ReadProfileInt(QStringLiteral("Param"), QStringLiteral("GraphBufferSize"), 2000);
    if (m_nGraphBufferSize < 1)
        m_nGraphBufferSize = 2000; // a damaged profile value must not empty the graphs

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        resize(screen->availableSize() * 4 / 5);
    else
        resize(1280, 800);

    CreateMenus();
    CreateToolBar();
    m_statusText = new QLabel(QStringLiteral("Disconnected"));
    m_statusText->setObjectName(QStringLiteral("statusText"));
    statusBar()->addWidget(m_statusText, 1);

    // The grid: each cell holds the pane of position row * 4 + column, sized a quarter of the
    // width and half the height less the bars, all eight shown.
    m_wndSplitter = new CPaneGrid(this);
    setCentralWidget(m_wndSplitter);
    const int wc = width();
    const int hc = height();
    m_station.SetGraphMaxPoints(m_nGraphBufferSize);
    for (int p = 0; p < kPositions; ++p) {
        auto* view = new CKelvarinView(GetChannel(p));
        view->SetBench([this](int position) -> const CChannel* {
            return position >= 0 && position < kPositions ? &GetChannel(position) : nullptr;
        });
        m_wndSplitter->SetPane(PositionRow(p), PositionColumn(p), view);
        connect(view, &CKelvarinView::showPositionFull, this, &CMainFrame::OnShowPositionFull);
    }
    for (int c = 0; c < CPaneGrid::kColumns; ++c)
        m_wndSplitter->SetColumnInfo(c, wc / 4, 0);
    for (int r = 0; r < CPaneGrid::kRows; ++r)
        m_wndSplitter->SetRowInfo(r, (hc - 45) / 2, 0);
    m_wndSplitter->RecalcLayout();

    // The dates of the parameters start at the window's start.
    CAcquisitionPlan plan;
    plan.m_timeAcqStart = plan.m_timeAcqEnd = std::time(nullptr);
    m_station.SetPlan(plan, plan.m_timeAcqStart);

    m_statusTimer.setInterval(kStatusPeriodMs);
    connect(&m_statusTimer, &QTimer::timeout, this, &CMainFrame::OnStatusTimer);
    m_statusTimer.start();
    m_autoDetectTimer.setSingleShot(true);
    m_autoDetectTimer.setInterval(kAutoDetectDelayMs);
    connect(&m_autoDetectTimer, &QTimer::timeout, this, [this] {
        RunAutoDetection();
        OnStatusTimer();
    });
    m_autoDetectTimer.start();
    UpdateTitle();
}

CMainFrame::~CMainFrame() {
    // No scrape reads a channel or the tally from here on.
    m_exporter.Stop();
    m_statusTimer.stop();
    m_autoDetectTimer.stop();
    // The panes go first; then the station stops the run, asks every meter to stop at once and
    // waits for them all.
    delete takeCentralWidget();
    m_station.CloseAll();
}

void CMainFrame::UpdateTitle() {
    const QString title = m_pDocument ? m_pDocument->GetTitle() : QStringLiteral("Interface");
    setWindowTitle(title + QStringLiteral(" - Kelvarin"));
}

void CMainFrame::CreateMenus() {
    const auto add = [this](QMenu* menu, const QString& text, int id, const QString& tip = {}) {
        QAction* action = menu->addAction(text);
        action->setData(id);
        action->setStatusTip(tip);
        connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
        return action;
    };
    QMenu* display = menuBar()->addMenu(QStringLiteral("&Display"));
    display->setObjectName(QStringLiteral("menuDisplay"));
    display->addSeparator();
    QMenu* full = display->addMenu(QStringLiteral("Full Screen"));
    for (int p = 0; p < kPositions; ++p)
        add(full, QStringLiteral("Position %1").arg(p + 1), Command::FullScreenPosition1 + p);
    QMenu* mosaic = display->addMenu(QStringLiteral("Mosaic"));
    add(mosaic, QStringLiteral("1x1"), Command::Mosaic1x1, QStringLiteral("Mosaique 1x1"));
    add(mosaic, QStringLiteral("1x2"), Command::Mosaic1x2, QStringLiteral("Mosaique 1x2"));
    add(mosaic, QStringLiteral("1x3"), Command::Mosaic1x3, QStringLiteral("Mosaique 1x3"));
    add(mosaic, QStringLiteral("1x4"), Command::Mosaic1x4, QStringLiteral("Mosaique 1x4"));
    add(mosaic, QStringLiteral("2x4"), Command::Mosaic2x4, QStringLiteral("Mosaique 2x4"));

    QMenu* parameters = menuBar()->addMenu(QStringLiteral("&Parameters"));
    parameters->setObjectName(QStringLiteral("menuParameters"));
    add(parameters, QStringLiteral("Screenshot"), Command::ScreenshotSettings);
    add(parameters, QStringLiteral("Graphical Parameters"), Command::GraphicalParameters);
    add(parameters, QStringLiteral("Remote Monitoring..."), Command::RemoteMonitoring,
        QStringLiteral("Serve the readings as metrics for Prometheus"));

    QMenu* detectors = menuBar()->addMenu(QStringLiteral("D&etectors"));
    detectors->setObjectName(QStringLiteral("menuDetectors"));
    add(detectors, QStringLiteral("Auto Detection"), Command::AutoDetection);
    add(detectors, QStringLiteral("Network Ports..."), Command::NetworkPorts,
        QStringLiteral("Meters behind serial device servers, probed with the local ports"));
    detectors->addSeparator();
    add(detectors, QStringLiteral("Save Detector Configuration"),
        Command::SaveDetectorConfiguration);
    detectors->addSeparator();
    add(detectors, QStringLiteral("Reset Graphics"), Command::ResetGraphics);
    add(detectors, QStringLiteral("Reset Statistics"), Command::ResetAllStatistics);
    add(detectors, QStringLiteral("Reset Alarms"), Command::ResetAllAlarms);
    add(detectors, QStringLiteral("Reset All"), Command::ResetAll);

    QMenu* acquisition = menuBar()->addMenu(QStringLiteral("&Acquisition"));
    acquisition->setObjectName(QStringLiteral("menuAcquisition"));
    add(acquisition, QStringLiteral("Acquisition Parameters"), Command::AcquisitionParameters);
    add(acquisition, QStringLiteral("Start Acquisition (All Channels)"), Command::StartAcquisition);
    add(acquisition, QStringLiteral("Stop Acquisition"), Command::StopAcquisition);
    add(acquisition, QStringLiteral("Post-Analysis Window"), Command::PostAnalysisWindow);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("menuHelp"));
    add(help, QStringLiteral("About"), Command::About,
        QStringLiteral("Display program information, version number and copyright"));
}

void CMainFrame::CreateToolBar() {
    QToolBar* bar = addToolBar(QStringLiteral("Toolbar"));
    bar->setObjectName(QStringLiteral("toolBar"));
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setIconSize(QSize(40, 40));
    const struct {
        int rows, columns, id;
        const char* text;
    } buttons[] = {{1, 1, Command::Mosaic1x1, "Mosaique 1x1"},
                   {1, 2, Command::Mosaic1x2, "Mosaique 1x2"},
                   {1, 3, Command::Mosaic1x3, "Mosaique 1x3"},
                   {1, 4, Command::Mosaic1x4, "Mosaique 1x4"},
                   {2, 4, Command::Mosaic2x4, "Mosaique 2x4"}};
    for (const auto& b : buttons) {
        QAction* action = bar->addAction(MosaicIcon(b.rows, b.columns), QLatin1String(b.text));
        action->setStatusTip(QLatin1String(b.text));
        action->setData(b.id);
        const int id = b.id;
        connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    }
    bar->addSeparator();
    const auto addAcquisition = [this, bar](const QIcon& icon, const char* text, int id) {
        QAction* action = bar->addAction(icon, QLatin1String(text));
        action->setStatusTip(QLatin1String(text));
        action->setData(id);
        connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
        return action;
    };
    m_actionStartAcq =
        addAcquisition(StartAcquisitionIcon(), "Start Acquisition", Command::ToolStartAcquisition);
    m_actionStopAcq =
        addAcquisition(StopAcquisitionIcon(), "Stop Acquisition", Command::ToolStopAcquisition);
    bar->addSeparator();
    addAcquisition(CameraIcon(), "Screenshot", Command::CaptureScreen);
    addAcquisition(CurveIcon(), "Post-Analysis Window", Command::ToolPostAnalysis);
    UpdateAcquisitionButtons();
}

CKelvarinView* CMainFrame::GetView(int position) const {
    if (position < 0 || position >= kPositions)
        return nullptr;
    return static_cast<CKelvarinView*>(
        m_wndSplitter->Pane(PositionRow(position), PositionColumn(position)));
}

CChannel& CMainFrame::GetChannel(int position) {
    return m_station.Channel(position);
}

const CChannel& CMainFrame::GetChannel(int position) const {
    return m_station.Channel(position);
}

int CMainFrame::ConnectedCount() const {
    return m_station.ConnectedCount();
}

QString CMainFrame::StatusText() const {
    const int n = ConnectedCount();
    QString text =
        n == 0 ? QStringLiteral("Disconnected") : QStringLiteral("Detector connected: %1/8").arg(n);
    if (m_station.IsAcquiring())
        text += QStringLiteral("... and acquiring") +
                QStringLiteral(" in: %1").arg(QString::fromStdString(m_station.AcquisitionFile()));
    return text;
}

void CMainFrame::OnStatusTimer() {
    ReportChannelFailures();
    // A scheduled run starts here when it is due; what the runs tell is told after the status.
    const std::vector<StationNews> news = m_station.Tick(std::time(nullptr));
    m_statusText->setText(StatusText());
    UpdateAcquisitionButtons();
    TellStationNews(news);
}

void CMainFrame::TellStationNews(const std::vector<StationNews>& news) {
    // Shown without waiting: this runs from the status timer, which must keep its pace.
    for (const StationNews& item : news) {
        switch (item.kind) {
        case StationNews::Kind::Started:
            break; // the status bar names the file
        case StationNews::Kind::Completed:
            KelvarinMessageBoxModeless(
                this,
                QStringLiteral("Acquistion completed : %1").arg(QString::fromStdString(item.file)));
            break;
        case StationNews::Kind::CreateFailed:
        case StationNews::Kind::WriteFailed:
        case StationNews::Kind::WindowMissed:
            KelvarinMessageBoxModeless(this, QString::fromStdString(item.text));
            break;
        }
    }
}

void CMainFrame::ReportChannelFailures() {
    QString text;
    for (int p = 0; p < kPositions; ++p)
        for (const std::string& failure : GetChannel(p).TakeFailures())
            text += QString::fromStdString(failure);
    // Shown without waiting: this runs from the status timer, which must keep its pace.
    if (!text.isEmpty())
        KelvarinMessageBoxModeless(this, text.trimmed());
}

void CMainFrame::UpdateAcquisitionButtons() {
    if (m_actionStartAcq)
        m_actionStartAcq->setEnabled(!m_station.Plan().m_strAcqBaseName.empty() &&
                                     !m_station.IsAcquiring());
    if (m_actionStopAcq)
        m_actionStopAcq->setEnabled(m_station.IsAcquiring());
}

void CMainFrame::OnCommand(int id) {
    if (id >= Command::FullScreenPosition1 && id < Command::FullScreenPosition1 + kPositions) {
        OnFullScreen(id - Command::FullScreenPosition1);
        return;
    }
    switch (id) {
    case Command::Mosaic1x1:
        OnMosaic(1);
        break;
    case Command::Mosaic1x2:
        OnMosaic(2);
        break;
    case Command::Mosaic1x3:
        OnMosaic(3);
        break;
    case Command::Mosaic1x4:
        OnMosaic(4);
        break;
    case Command::Mosaic2x4:
        OnMosaic(8);
        break;
    case Command::AutoDetection:
        RunAutoDetection();
        break;
    case Command::SaveDetectorConfiguration:
        OnSaveDetectorConfiguration();
        break;
    case Command::NetworkPorts:
        OnNetworkPorts();
        break;
    case Command::ResetGraphics:
        OnResetGraphics();
        break;
    case Command::ResetAllStatistics:
        OnResetStatistics();
        break;
    case Command::ResetAllAlarms:
        OnResetAlarms();
        break;
    case Command::ResetAll:
        OnResetAll();
        break;
    case Command::About:
        OnAbout();
        break;
    case Command::ScreenshotSettings:
        OnScreenshotSettings();
        break;
    case Command::GraphicalParameters:
        OnGraphicalParameters();
        break;
    case Command::RemoteMonitoring:
        OnRemoteMonitoring();
        break;
    case Command::CaptureScreen:
        OnCaptureScreen();
        break;
    case Command::PostAnalysisWindow:
    case Command::ToolPostAnalysis:
        OnPostAnalysis();
        break;
    case Command::AcquisitionParameters:
        OnAcquisitionParameters();
        break;
    case Command::StartAcquisition:
    case Command::ToolStartAcquisition:
        OnStartAcquisition();
        break;
    case Command::StopAcquisition:
    case Command::ToolStopAcquisition:
        OnStopAcquisition();
        break;
    default:
        break;
    }
}

void CMainFrame::OnMosaic(int layout) {
    // Sizes of the outer window: an ideal of W or H always covers the space the grid has.
    if (m_wndSplitter->ShowMosaic(layout, frameGeometry().width(), frameGeometry().height()))
        m_nLayout = layout;
}

void CMainFrame::OnFullScreen(int position) {
    if (position < 0 || position >= kPositions)
        return;
    m_nLayout = 1;
    m_wndSplitter->ShowAlone(position, frameGeometry().width(), frameGeometry().height());
}

void CMainFrame::OnShowPositionFull(int position) {
    if (position >= 0 && position < kPositions)
        OnFullScreen(position);
}

void CMainFrame::ApplyLayoutForCount(int assigned) {
    if (assigned >= 5)
        OnMosaic(8);
    else if (assigned >= 1)
        OnMosaic(assigned);
}

void CMainFrame::RunAutoDetection() {
    if (ConnectedCount() > 0) {
        KelvarinMessageBox(this,
                           QStringLiteral("Unable to modify the window if one is already active"));
        return;
    }
    if (m_dlgAutoDetect.exec() != QDialog::Accepted)
        return;
    const size_t count = std::min<size_t>(static_cast<size_t>(m_dlgAutoDetect.m_nPortCount),
                                          m_dlgAutoDetect.m_pConfigs.size());
    std::vector<CChannelConfig> rows(m_dlgAutoDetect.m_pConfigs.begin(),
                                     m_dlgAutoDetect.m_pConfigs.begin() +
                                         static_cast<std::ptrdiff_t>(count));
    // Opened, set and started by the station's channels, all positions at once.
    int assigned = 0;
    for (const DetectorBinding& binding : m_station.Bind(std::move(rows))) {
        if (!binding.damaged.empty())
            ReportConfigDamageOnce(this, binding.damaged); // connected with its defaults
        // The layout follows the highest position taken so far, as each detector is bound.
        assigned = std::max(assigned, binding.position + 1);
        ApplyLayoutForCount(assigned);
    }
}

void CMainFrame::OnNetworkPorts() {
    if (m_dlgNetworkPorts.exec() == QDialog::Accepted && m_dlgNetworkPorts.Changed())
        m_dlgAutoDetect.m_bProbed = false; // other ports now: the earlier probe no longer holds
}

void CMainFrame::OnSaveDetectorConfiguration() {
    QStringList failures;
    for (int p = 0; p < kPositions; ++p) {
        std::string error;
        if (!GetChannel(p).SaveChannelConfig(error))
            failures << QString::fromStdString(error);
    }
    // A configuration that could not be stored is not lost silently.
    if (!failures.isEmpty())
        KelvarinMessageBox(this, failures.join(QLatin1Char('\n')));
}

void CMainFrame::OnResetGraphics() {
    for (int p = 0; p < kPositions; ++p)
        GetChannel(p).ResetGraph();
}

void CMainFrame::OnResetStatistics() {
    for (int p = 0; p < kPositions; ++p)
        GetChannel(p).ResetStatistics();
}

void CMainFrame::OnResetAlarms() {
    for (int p = 0; p < kPositions; ++p)
        if (GetChannel(p).IsBound())
            GetChannel(p).ResetAlarm();
}

void CMainFrame::OnResetAll() {
    for (int p = 0; p < kPositions; ++p) {
        CChannel& channel = GetChannel(p);
        if (!channel.IsBound())
            continue;
        channel.ResetGraph();
        channel.ResetStatistics();
        channel.ResetAlarm();
    }
}

void CMainFrame::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CMainFrame::OnAcquisitionParameters() {
    if (m_station.IsAcquiring()) {
        KelvarinMessageBox(this, QStringLiteral("Acquiring"));
        return;
    }
    CAcquisitionPlan plan = m_station.Plan();
    CDataSamplingDlg dialog(this);
    dialog.m_nSamplingPeriod = plan.m_nSamplingPeriod;
    dialog.m_strFile = plan.m_strAcqBaseName;
    dialog.m_nDuration = plan.m_nDuration;
    dialog.m_bByTime = plan.m_bByTime;
    dialog.m_bByPeriod = !plan.m_bByTime;
    dialog.m_timeAcqStart = plan.m_timeAcqStart;
    dialog.m_timeAcqEnd = plan.m_timeAcqEnd;
    if (dialog.exec() != QDialog::Accepted)
        return;
    plan.m_nSamplingPeriod = dialog.m_nSamplingPeriod;
    plan.m_strAcqBaseName = dialog.m_strFile;
    plan.m_timeAcqStart = dialog.m_timeAcqStart;
    plan.m_timeAcqEnd = dialog.m_timeAcqEnd;
    plan.m_nDuration = dialog.m_nDuration;
    plan.m_bByTime = dialog.m_bByTime;
    m_station.SetPlan(plan, std::time(nullptr));
    UpdateAcquisitionButtons();
}

void CMainFrame::OnStartAcquisition() {
    std::string error;
    switch (m_station.StartByHand(std::time(nullptr), error)) {
    case CMeterStation::Start::Started:
        break;
    case CMeterStation::Start::Running:
    case CMeterStation::Start::NoDetector:
        return; // nothing happens
    case CMeterStation::Start::NoFile:
        KelvarinMessageBox(this, QStringLiteral("No file selected!"));
        return;
    case CMeterStation::Start::ByTime:
        KelvarinMessageBox(this, QStringLiteral("Unable to manualy start the acquistion"));
        return;
    case CMeterStation::Start::CreateFailed:
        // Nothing was recorded: say so plainly, and the status bar names no file.
        KelvarinMessageBox(this, QString::fromStdString(error));
        return;
    }
    m_statusText->setText(StatusText());
    UpdateAcquisitionButtons();
}

void CMainFrame::OnStopAcquisition() {
    m_station.StopAcquisition(); // the line being written is finished first
    m_statusText->setText(StatusText());
    UpdateAcquisitionButtons();
}

void CMainFrame::OnScreenshotSettings() {
    CCaptureEcran dialog(this);
    dialog.m_strFile = m_strScreenshotBase;
    dialog.exec();
    // Whichever button closed it: a path chosen with "..." is kept even after Cancel.
    m_strScreenshotBase = dialog.m_strFile;
    WriteProfileString(QStringLiteral("Param"), QStringLiteral("CaptureScreen"),
                       QFile::decodeName(QByteArray::fromStdString(m_strScreenshotBase)));
}

void CMainFrame::OnGraphicalParameters() {
    CGraphParamDlg dialog(this);
    dialog.m_nGraphSize = m_nGraphBufferSize;
    if (dialog.exec() != QDialog::Accepted)
        return;
    m_nGraphBufferSize = dialog.m_nGraphSize;
    WriteProfileInt(QStringLiteral("Param"), QStringLiteral("GraphBufferSize"), m_nGraphBufferSize);
    // Every pane, connected or not; a longer graph is cut to the newest at its next point.
    m_station.SetGraphMaxPoints(m_nGraphBufferSize);
}

void CMainFrame::OnRemoteMonitoring() {
    const MetricsSettings shown = m_exporter.InEffect();
    CMetricsDlg dialog(
        [this, shown](const MetricsSettings& settings) {
            const MetricsState state = m_exporter.Apply(settings);
            // Kept as asked, even if the port is busy just now; what came from the command line
            // for this run stays out of the profile unless the user changed it.
            WriteMetricsSettings(ChangedMetricsSettings(ReadMetricsSettings(), shown, settings));
            return state;
        },
        this);
    dialog.m_settings = shown;
    dialog.m_state = MetricsNow();
    dialog.exec();
}

void CMainFrame::StartMetrics(const std::optional<MetricsEndpoint>& commandLine) {
    MetricsSettings settings = ReadMetricsSettings();
    if (commandLine) {
        settings.enabled = true;
        settings.endpoint.address = commandLine->address;
        settings.endpoint.port = commandLine->port;
    }
    if (!settings.enabled)
        return;
    const MetricsState state = m_exporter.Apply(settings);
    if (!state.url.empty())
        return;
    // Told once the window is up, as the other messages of start-up; it goes on meanwhile.
    const QString text = QString::fromStdString(state.error);
    QTimer::singleShot(0, this, [this, text] { KelvarinMessageBoxModeless(this, text); });
}

QRect CMainFrame::ClientArea() const {
    const int top =
        menuWidget() && menuWidget()->isVisible() ? menuWidget()->geometry().bottom() + 1 : 0;
    return QRect(0, top, width(), height() - top);
}

void CMainFrame::OnCaptureScreen() {
    SaveScreenshotAt(std::time(nullptr));
}

void CMainFrame::SaveScreenshotAt(std::time_t when) {
    const QImage picture = CaptureClientArea(this, ClientArea(), palette().color(QPalette::Window));
    const std::string path = ScreenshotFileName(m_strScreenshotBase, when, "%Y%d%m_%H%M%S");
    std::string error;
    if (SaveScreenshot(picture, path, error))
        KelvarinMessageBox(this, QFile::decodeName(QByteArray::fromStdString(path)));
    else
        KelvarinMessageBox(this, QString::fromStdString(error));
}

void CMainFrame::OnPostAnalysis() {
    CPostAnalyseDlg dialog(this);
    dialog.m_strScreenshotBase = m_strScreenshotBase;
    dialog.exec();
}

#include "app/MainFrame.h"

#include "acquisition/DataSamplingDlg.h"
#include "analysis/PostAnalyseDlg.h"
#include "app/AboutDlg.h"
#include "app/KelvarinDoc.h"
#include "capture/CaptureEcran.h"
#include "capture/WindowCapture.h"
#include "channel/KelvarinView.h"
#include "detectors/ConfigDamageReport.h"
#include "detectors/DetectorOrder.h"
#include "gui/MessageBox.h"
#include "res/CommandIds.h"
#include "settings/DataRoot.h"
#include "settings/GraphParamDlg.h"
#include "settings/ProfileStore.h"

#include <QAction>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include <algorithm>

namespace {

// A 40 x 40 toolbar glyph, transparent around what `draw` paints.
template <class Draw> QIcon Glyph(bool antialiased, Draw draw) {
    QPixmap pixmap(40, 40);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing, antialiased);
    draw(painter);
    return QIcon(pixmap);
}

// A mosaic: `rows` by `columns` little panes.
QIcon MosaicIcon(int rows, int columns) {
    return Glyph(false, [rows, columns](QPainter& painter) {
        painter.setPen(QPen(QColor(40, 40, 40), 1));
        painter.setBrush(QColor(250, 250, 250));
        const int cellW = 36 / columns;
        const int cellH = (rows == 1 ? 36 : 17);
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < columns; ++c)
                painter.drawRect(2 + c * cellW, 2 + r * (cellH + 2), cellW - 2, cellH - 1);
    });
}

// The acquisition: a red dot starts recording, a dark square stops it.
QIcon StartAcquisitionIcon() {
    return Glyph(true, [](QPainter& painter) {
        painter.setPen(QPen(QColor(120, 0, 0), 1));
        painter.setBrush(QColor(210, 20, 20));
        painter.drawEllipse(QRectF(8, 8, 24, 24));
    });
}

QIcon StopAcquisitionIcon() {
    return Glyph(false, [](QPainter& painter) {
        painter.setPen(QPen(QColor(20, 20, 20), 1));
        painter.setBrush(QColor(60, 60, 60));
        painter.drawRect(QRect(10, 10, 20, 20));
    });
}

// A curve on axes: the post-analysis window.
QIcon CurveIcon() {
    return Glyph(true, [](QPainter& painter) {
        painter.setPen(QPen(QColor(30, 30, 30), 1.5));
        painter.drawLine(7, 6, 7, 33);
        painter.drawLine(7, 33, 35, 33);
        painter.setPen(QPen(QColor(0, 0, 220), 2));
        const QPointF curve[] = {{8, 26}, {13, 18}, {18, 22}, {23, 12}, {28, 16}, {34, 9}};
        painter.drawPolyline(curve, 6);
    });
}

// A camera: the screenshot button.
QIcon CameraIcon() {
    return Glyph(true, [](QPainter& painter) {
        painter.setPen(QPen(QColor(30, 30, 30), 1.5));
        painter.setBrush(QColor(90, 90, 90));
        painter.drawRoundedRect(QRectF(6, 13, 28, 18), 3, 3);
        painter.drawRect(QRectF(14, 9, 10, 5));
        painter.setBrush(QColor(200, 215, 235));
        painter.drawEllipse(QRectF(14, 15, 12, 12));
    });
}

} // namespace

CMainFrame::CMainFrame(CKelvarinDoc* document, QWidget* parent)
    : QMainWindow(parent), m_timeAcqStart(std::time(nullptr)), m_timeAcqEnd(m_timeAcqStart),
      m_pDocument(document) {
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
    for (int p = 0; p < kPositions; ++p) {
        m_channels[static_cast<size_t>(p)] = std::make_unique<CChannel>();
        CChannel& channel = GetChannel(p);
        CChannelConfig config;
        config.m_nPosition = p;
        channel.SetConfig(config);
        channel.SetGraphMaxPoints(m_nGraphBufferSize);
        auto* view = new CKelvarinView(channel);
        m_wndSplitter->SetPane(PositionRow(p), PositionColumn(p), view);
        connect(view, &CKelvarinView::channelConfigured, this, &CMainFrame::OnChannelConfigured);
        connect(view, &CKelvarinView::showPositionFull, this, &CMainFrame::OnShowPositionFull);
    }
    for (int c = 0; c < CPaneGrid::kColumns; ++c)
        m_wndSplitter->SetColumnInfo(c, wc / 4, 0);
    for (int r = 0; r < CPaneGrid::kRows; ++r)
        m_wndSplitter->SetRowInfo(r, (hc - 45) / 2, 0);
    m_wndSplitter->RecalcLayout();

    std::vector<MeteredChannel> metered;
    for (int p = 0; p < kPositions; ++p)
        metered.push_back({p + 1, m_channels[static_cast<size_t>(p)].get()});
    m_metrics.SetChannels(std::move(metered));
    m_metrics.SetAcquisition(&m_acqTally);
    m_metricsSettings = ReadMetricsSettings(); // served from StartMetrics, when asked

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
    m_metricsServer.Stop();
    m_metrics.SetChannels({});
    m_metrics.SetAcquisition(nullptr);
    m_statusTimer.stop();
    m_autoDetectTimer.stop();
    // A run in progress ends with its last line whole before the panes it samples go.
    m_acqWorker.Stop();
    // The panes go first; then each channel stops its worker and its meter.
    delete takeCentralWidget();
    for (auto& channel : m_channels)
        channel.reset();
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

CChannel& CMainFrame::GetChannel(int position) const {
    return *m_channels[static_cast<size_t>(position)];
}

int CMainFrame::ConnectedCount() const {
    int n = 0;
    for (const auto& channel : m_channels)
        n += channel && channel->IsConnected() ? 1 : 0;
    return n;
}

QString CMainFrame::StatusText() const {
    const int n = ConnectedCount();
    QString text =
        n == 0 ? QStringLiteral("Disconnected") : QStringLiteral("Detector connected: %1/8").arg(n);
    if (m_bAcqRunning)
        text += QStringLiteral("... and acquiring") +
                QStringLiteral(" in: %1").arg(QString::fromStdString(m_strAcqFile));
    return text;
}

void CMainFrame::OnStatusTimer() {
    ReportChannelFailures();
    m_statusText->setText(StatusText());
    UpdateAcquisitionButtons();
    if (m_bByTime && m_bStartPending && !m_bAcqRunning && ConnectedCount() > 0 &&
        ScheduledStartDue(std::time(nullptr), m_timeAcqStart)) {
        m_bStartPending = false;
        BeginAcquisition(false);
    }
}

void CMainFrame::ReportChannelFailures() {
    QString text;
    for (const auto& channel : m_channels)
        for (const std::string& failure : channel->TakeFailures())
            text += QString::fromStdString(failure);
    // Shown without waiting: this runs from the status timer, which must keep its pace.
    if (!text.isEmpty())
        KelvarinMessageBoxModeless(this, text.trimmed());
}

void CMainFrame::UpdateAcquisitionButtons() {
    if (m_actionStartAcq)
        m_actionStartAcq->setEnabled(!m_strAcqBaseName.empty() && !m_bAcqRunning);
    if (m_actionStopAcq)
        m_actionStopAcq->setEnabled(m_bAcqRunning);
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
    const int w = frameGeometry().width();
    const int h = frameGeometry().height();
    CPaneGrid* grid = m_wndSplitter;
    m_nLayout = layout;
    switch (layout) {
    case 1:
        grid->SetRowInfo(0, h, h);
        grid->SetColumnInfo(0, w, w - 45);
        break;
    case 2:
    case 3:
    case 4:
        grid->SetRowInfo(0, h, 10);
        grid->SetRowInfo(1, 0, 0);
        for (int c = 0; c < CPaneGrid::kColumns; ++c) {
            if (c < layout)
                grid->SetColumnInfo(c, w / layout, 10);
            else
                grid->SetColumnInfo(c, 0, 0);
        }
        break;
    case 8:
        grid->SetRowInfo(0, (h - 75) / 2, 10);
        grid->SetRowInfo(1, (h - 75) / 2, 10);
        for (int c = 0; c < CPaneGrid::kColumns; ++c)
            grid->SetColumnInfo(c, w / 4, 10);
        break;
    default:
        return;
    }
    grid->RecalcLayout();
}

void CMainFrame::OnFullScreen(int position) {
    if (position < 0 || position >= kPositions)
        return;
    const int w = frameGeometry().width();
    const int h = frameGeometry().height();
    const int row = PositionRow(position);
    const int column = PositionColumn(position);
    CPaneGrid* grid = m_wndSplitter;
    m_nLayout = 1;
    for (int c = 0; c < column; ++c)
        grid->SetColumnInfo(c, 0, grid->ColumnInfo(c).minimum);
    grid->SetColumnInfo(column, w, w - 45);
    if (row == 0) {
        grid->SetRowInfo(0, h, h);
    } else {
        grid->SetRowInfo(0, 0, 10);
        grid->SetRowInfo(1, h, 10);
    }
    grid->RecalcLayout();
}

void CMainFrame::OnShowPositionFull(int position) {
    if (position >= 0 && position < kPositions)
        OnFullScreen(position);
}

void CMainFrame::OnChannelConfigured(int position) {
    if (position >= 0 && position < kPositions) {
        m_configs[static_cast<size_t>(position)] = GetChannel(position).Config();
        m_configs[static_cast<size_t>(position)].m_nPosition = position;
    }
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
    // A bound channel keeps its position; a lost one waits there for its meter, which it takes
    // back by itself when the meter answers on its port again. The list (probed once per run)
    // may still name that meter, which must not be bound a second time elsewhere.
    std::array<bool, kPositions> bound{};
    for (int p = 0; p < kPositions; ++p) {
        const CChannel& channel = GetChannel(p);
        bound[static_cast<size_t>(p)] = channel.IsBound();
        if (!channel.IsLost())
            continue;
        const std::string serial = channel.Config().m_strSerial;
        for (CChannelConfig& row : rows)
            if (row.m_strSerial == serial)
                row.m_strSerial.clear();
    }
    int assigned = 0;
    for (const DetectorBinding& binding : BindDetectorRows(rows, bound)) {
        if (!binding.damaged.empty())
            ReportConfigDamageOnce(this, binding.damaged); // connected with its defaults
        const int k = binding.position;
        m_configs[static_cast<size_t>(k)] = binding.config;
        // Opened, set and started on the channel's worker, all positions at once.
        GetChannel(k).RequestConnect(binding.config, binding.stored);
        // The layout follows the highest position taken so far, as each detector is bound.
        assigned = std::max(assigned, k + 1);
        ApplyLayoutForCount(assigned);
    }
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
    if (m_bAcqRunning) {
        KelvarinMessageBox(this, QStringLiteral("Acquiring"));
        return;
    }
    CDataSamplingDlg dialog(this);
    dialog.m_nSamplingPeriod = m_nSamplingPeriod;
    dialog.m_strFile = m_strAcqBaseName;
    dialog.m_nDuration = m_nDuration;
    dialog.m_bByTime = m_bByTime;
    dialog.m_bByPeriod = !m_bByTime;
    dialog.m_timeAcqStart = m_timeAcqStart;
    dialog.m_timeAcqEnd = m_timeAcqEnd;
    if (dialog.exec() != QDialog::Accepted)
        return;
    m_nSamplingPeriod = dialog.m_nSamplingPeriod;
    m_strAcqBaseName = dialog.m_strFile;
    m_timeAcqStart = dialog.m_timeAcqStart;
    m_timeAcqEnd = dialog.m_timeAcqEnd;
    m_nDuration = dialog.m_nDuration;
    m_bByTime = dialog.m_bByTime;
    // A window still ahead is scheduled; so is one that has begun but not ended, which starts at
    // the next status tick instead of never. One that has ended is not, even over an earlier
    // schedule still pending.
    if (m_bByTime)
        m_bStartPending = ScheduleByTimeWindow(std::time(nullptr), m_timeAcqStart, m_timeAcqEnd);
    UpdateAcquisitionButtons();
}

void CMainFrame::OnStartAcquisition() {
    if (m_bAcqRunning || ConnectedCount() == 0)
        return;
    if (m_strAcqBaseName.empty()) {
        KelvarinMessageBox(this, QStringLiteral("No file selected!"));
        return;
    }
    if (m_bByTime) {
        KelvarinMessageBox(this, QStringLiteral("Unable to manualy start the acquistion"));
        return;
    }
    BeginAcquisition(true);
}

bool CMainFrame::BeginAcquisition(bool startedByHand) {
    // The channels of a run are those connected now, for the whole run: a pane that loses its
    // meter keeps its column with its last reading, one that connects later waits for the next.
    std::vector<CChannel*> channels;
    std::vector<std::string> titles;
    for (int p = 0; p < kPositions; ++p) {
        CChannel& channel = GetChannel(p);
        if (!channel.IsConnected())
            continue;
        channels.push_back(&channel);
        titles.push_back(channel.Config().m_strTitle);
    }
    AcquisitionSettings settings;
    settings.periodSeconds = m_nSamplingPeriod;
    settings.durationSeconds = m_nDuration;
    settings.byTime = m_bByTime;
    settings.end = m_timeAcqEnd;
    auto run = std::make_unique<CAcquisitionRun>(
        settings, channels.size(), [channels](std::vector<float>& readings) {
            for (size_t i = 0; i < channels.size(); ++i)
                readings[i] = channels[i]->SampleForAcquisition();
        });
    run->SetTally(&m_acqTally);
    std::string error;
    if (!run->Begin(m_strAcqBaseName, titles, startedByHand, std::time(nullptr), error)) {
        // Nothing was recorded: say so plainly, and the status bar names no file.
        if (startedByHand)
            KelvarinMessageBox(this, QString::fromStdString(error));
        else
            KelvarinMessageBoxModeless(this, QString::fromStdString(error));
        return false;
    }
    m_strAcqFile = run->FilePath();
    m_acqChannels = channels;
    for (CChannel* channel : channels) {
        channel->SetAcquiring(true);
        channel->ResetGraph();
    }
    const uint64_t id = ++m_nAcqRun;
    run->SetFailureReport([this](const std::string& text) {
        m_uiQueue.Post(
            [this, text] { KelvarinMessageBoxModeless(this, QString::fromStdString(text)); });
    });
    m_bAcqRunning = true;
    m_acqWorker.Start(std::move(run), m_bAcqRunning,
                      [this, id](AcquisitionEnd end, const std::string& file) {
                          if (end != AcquisitionEnd::Completed)
                              return; // stopped by the user: no message
                          m_uiQueue.Post([this, id, file] { OnAcquisitionFinished(id, file); });
                      });
    m_statusText->setText(StatusText());
    UpdateAcquisitionButtons();
    return true;
}

void CMainFrame::OnStopAcquisition() {
    m_bAcqRunning = false;
    // Every channel of the run, a lost one included, goes back to drawing its own readings.
    for (CChannel* channel : m_acqChannels)
        channel->SetAcquiring(false);
    m_acqWorker.Stop(); // the line being written is finished first
    m_statusText->setText(StatusText());
    UpdateAcquisitionButtons();
}

void CMainFrame::OnAcquisitionFinished(uint64_t run, const std::string& file) {
    if (run == m_nAcqRun && !m_bAcqRunning) {
        m_acqWorker.Join();
        for (CChannel* channel : m_acqChannels)
            channel->SetAcquiring(false);
    }
    m_statusText->setText(StatusText());
    UpdateAcquisitionButtons();
    KelvarinMessageBoxModeless(
        this, QStringLiteral("Acquistion completed : %1").arg(QString::fromStdString(file)));
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
    for (int p = 0; p < kPositions; ++p)
        GetChannel(p).SetGraphMaxPoints(m_nGraphBufferSize);
}

void CMainFrame::OnRemoteMonitoring() {
    CMetricsDlg dialog(
        [this](const MetricsSettings& settings) {
            const MetricsState state = ApplyMetrics(settings);
            WriteMetricsSettings(settings); // kept as asked, even if the port is busy just now
            return state;
        },
        this);
    dialog.m_settings = m_metricsSettings;
    dialog.m_state = MetricsNow();
    dialog.exec();
}

void CMainFrame::StartMetrics(const std::optional<MetricsEndpoint>& commandLine) {
    MetricsSettings settings = m_metricsSettings;
    if (commandLine) {
        settings.enabled = true;
        settings.endpoint.address = commandLine->address;
        settings.endpoint.port = commandLine->port;
    }
    if (!settings.enabled)
        return;
    const MetricsState state = ApplyMetrics(settings);
    if (!state.url.empty())
        return;
    // Told once the window is up, as the other messages of start-up; it goes on meanwhile.
    const QString text = QString::fromStdString(state.error);
    QTimer::singleShot(0, this, [this, text] { KelvarinMessageBoxModeless(this, text); });
}

MetricsState CMainFrame::ApplyMetrics(const MetricsSettings& settings) {
    const bool same = SameMetricsSettings(settings, m_metricsSettings);
    m_metricsSettings = settings;
    if (!settings.enabled) {
        m_metricsServer.Stop();
        m_strMetricsError.clear();
        return MetricsNow();
    }
    if (same && m_metricsServer.IsServing())
        return MetricsNow(); // already serving them: scrapes go on uninterrupted
    m_strMetricsError.clear();
    // A damaged profile's address or port is refused by the server itself.
    std::string error;
    if (!m_metricsServer.Start(settings.endpoint, error))
        m_strMetricsError = error;
    return MetricsNow();
}

MetricsState CMainFrame::MetricsNow() const {
    MetricsState state;
    if (m_metricsServer.IsServing())
        state.url = m_metricsServer.Url();
    else if (m_metricsSettings.enabled)
        state.error = m_strMetricsError;
    return state;
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

#include "analysis/PostAnalyseDlg.h"

#include "analysis/AnalysisRules.h"
#include "analysis/RangeDlg.h"
#include "capture/WindowCapture.h"
#include "gui/MessageBox.h"
#include "gui/SingleByteText.h"

#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QWheelEvent>

namespace {

constexpr int kShowProgressAfterMs = 500;

} // namespace

CPostAnalyseDlg::CPostAnalyseDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("PostAnalyseDlg"));
    setWindowTitle(QStringLiteral("Post-Analysis"));
    setFixedSize(kWidth, kHeight);
    m_cbChannel = new QComboBox(this);
    m_cbChannel->setObjectName(QStringLiteral("comboChannel"));
    m_cbChannel->setGeometry(10, 11, 200, 24);
    m_cbChannel->setMaxVisibleItems(16);
    m_cbChannel->installEventFilter(this); // the wheel zooms the graph, not the list
    m_buttonScales = new QPushButton(QStringLiteral("Scales"), this);
    m_buttonScales->setObjectName(QStringLiteral("buttonScales"));
    m_buttonScales->setGeometry(232, 11, 75, 24);
    m_buttonScreenshot = new QPushButton(QStringLiteral("Screenshot"), this);
    m_buttonScreenshot->setObjectName(QStringLiteral("buttonScreenshot"));
    m_buttonScreenshot->setGeometry(783, 11, 75, 24);
    for (QPushButton* button : {m_buttonScales, m_buttonScreenshot})
        button->setAutoDefault(false); // Enter does not press them behind the user's back

    m_graph.ResetData();
    m_stats.Reset();
    m_stats.m_bEnabled = true;
    m_graph.m_rcPlot = CPlotRect{100, 50, kWidth - 290, kHeight - 30};

    connect(m_cbChannel, QOverload<int>::of(&QComboBox::activated), this,
            [this](int) { SelectChannel(); });
    connect(m_buttonScales, &QPushButton::clicked, this, &CPostAnalyseDlg::OnScales);
    connect(m_buttonScreenshot, &QPushButton::clicked, this, &CPostAnalyseDlg::OnScreenshot);
    m_progressTimer.setInterval(100);
    connect(&m_progressTimer, &QTimer::timeout, this, [this] { update(); });
}

CPostAnalyseDlg::~CPostAnalyseDlg() {
    StopLoading();
}

void CPostAnalyseDlg::StopLoading() {
    m_progress.m_bCancel = true;
    if (m_loader.joinable())
        m_loader.join();
    m_progressTimer.stop();
}

void CPostAnalyseDlg::done(int result) {
    StopLoading(); // a load under way ends at its next chunk
    QDialog::done(result);
}

void CPostAnalyseDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_bAskedForFile) {
        m_bAskedForFile = true;
        // The empty window first, then the file dialog over it.
        QTimer::singleShot(0, this, &CPostAnalyseDlg::AskForFile);
    }
}

void CPostAnalyseDlg::AskForFile() {
    if (!m_strFileName.empty() || IsLoading())
        return; // a file was given already
    QFileDialog dialog(this, QStringLiteral("Open"));
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        LoadAcquisitionFile(QFile::encodeName(dialog.selectedFiles().front()).toStdString());
    else
        update();
}

void CPostAnalyseDlg::LoadAcquisitionFile(const std::string& path) {
    if (IsLoading())
        return;
    m_strFileName = path;
    m_graph.m_bAutoScaleY = true;
    m_graph.m_bAutoScaleX = true;
    m_progress.m_bCancel = false;
    m_progress.m_nBytesRead = 0;
    m_loadClock.start();
    m_progressTimer.start();
    auto result = std::make_shared<LoadResult>();
    m_loader = std::thread([this, path, result] {
        result->ok = ::LoadAcquisitionFile(path, result->data, result->error, &m_progress);
        m_queue.Post([this, result] { OnLoaded(result); });
    });
}

void CPostAnalyseDlg::OnLoaded(const std::shared_ptr<LoadResult>& result) {
    if (m_loader.joinable())
        m_loader.join();
    m_progressTimer.stop();
    if (m_progress.m_bCancel)
        return;
    CAcquisitionData& data = result->data;
    for (const std::string& message : data.m_messages)
        KelvarinMessageBox(this, ToQt(message));
    if (!result->ok)
        KelvarinMessageBox(this, QString::fromStdString(result->error));
    m_astrChannelNames = std::move(data.m_names);
    for (size_t k = 0; k < m_aChannel.size(); ++k)
        m_aChannel[k] = std::move(data.m_series[k]);
    if (data.m_bHasStart)
        m_graph.m_timeStart = data.m_timeStart;
    // The sign that a file is loaded (the time axis zooms from now on): not for one that could
    // not be read, whose data has no ends to keep the time range inside.
    m_graph.m_bTimeWindow = result->ok || data.m_bHasStart;
    RecomputeStatistics(true);
    FillChannelList();
    update();
}

void CPostAnalyseDlg::FillChannelList() {
    if (m_astrChannelNames.empty())
        return;
    m_cbChannel->clear();
    for (const std::string& name : m_astrChannelNames)
        m_cbChannel->addItem(ToQt(name));
    m_cbChannel->setCurrentIndex(0);
    SelectChannel();
    update();
}

void CPostAnalyseDlg::SelectChannel() {
    const int k = m_cbChannel->currentIndex();
    m_graph.m_points.clear();
    m_graph.m_nPointCount = 0;
    if (k >= 0 && k < static_cast<int>(m_aChannel.size())) {
        const std::vector<CGraphData>& samples = m_aChannel[static_cast<size_t>(k)];
        m_graph.m_points.assign(samples.begin(), samples.end());
        m_graph.m_nPointCount = static_cast<int32_t>(samples.size());
    }
    // A channel without samples keeps the ranges shown: there are no ends to take them from.
    if (!m_graph.m_points.empty()) {
        const float first = m_graph.m_points.front().fTime;
        const float last = m_graph.m_points.back().fTime;
        m_graph.m_bAutoScaleY = true;
        m_graph.m_fDataXMin = first;
        m_graph.m_fDataXMax = last;
        m_graph.m_fXWidth = last - first;
        m_graph.m_fXMin = first;
        m_graph.m_fXMax = last;
        m_graph.AutoScaleY();
    }
    RecomputeStatistics(false);
    update();
    m_buttonScales->setFocus();
}

void CPostAnalyseDlg::RecomputeStatistics(bool invalidate) {
    VisibleStatistics(m_stats, m_graph.m_points, m_graph.m_fXMin, m_graph.m_fXMax);
    if (invalidate)
        update();
}

CViewRange CPostAnalyseDlg::View() const {
    return {m_graph.m_fXMin, m_graph.m_fXMax, m_graph.m_fYMin, m_graph.m_fYMax};
}

void CPostAnalyseDlg::SetView(const CViewRange& view) {
    m_graph.m_fXMin = view.xMin;
    m_graph.m_fXMax = view.xMax;
    m_graph.m_fYMin = view.yMin;
    m_graph.m_fYMax = view.yMax;
}

bool CPostAnalyseDlg::InPlot(const QPoint& point) const {
    const CPlotRect& r = m_graph.m_rcPlot;
    return point.x() >= r.left && point.x() < r.right && point.y() >= r.top && point.y() < r.bottom;
}

void CPostAnalyseDlg::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && InPlot(event->pos())) {
        m_bDragging = true;
        m_ptPress = m_ptCurrent = event->pos(); // a click without a move zooms nothing
        update();
    }
    QDialog::mousePressEvent(event);
}

void CPostAnalyseDlg::mouseMoveEvent(QMouseEvent* event) {
    // Outside the plot the box stops at its last point inside.
    if (m_bDragging && InPlot(event->pos())) {
        m_ptCurrent = event->pos();
        update();
    }
    QDialog::mouseMoveEvent(event);
}

void CPostAnalyseDlg::mouseReleaseEvent(QMouseEvent* event) {
    if (m_bDragging && event->button() == Qt::LeftButton) {
        m_bDragging = false;
        CViewRange view = View();
        if (ZoomToBox(m_ptPress.x(), m_ptPress.y(), m_ptCurrent.x(), m_ptCurrent.y(),
                      m_graph.m_rcPlot, view)) {
            SetView(view);
            m_graph.m_bAutoScaleX = false;
            m_graph.m_bAutoScaleY = false;
            m_graph.AutoScaleY();
            RecomputeStatistics(false);
        }
        update();
    }
    QDialog::mouseReleaseEvent(event);
}

void CPostAnalyseDlg::mouseDoubleClickEvent(QMouseEvent* event) {
    m_graph.m_bAutoScaleX = true;
    m_graph.m_bAutoScaleY = true;
    if (!m_graph.m_points.empty()) {
        m_graph.m_fXMin = m_graph.m_points.front().fTime;
        m_graph.m_fXMax = m_graph.m_points.back().fTime;
        m_graph.AutoScaleY();
    }
    RecomputeStatistics(true);
    event->accept();
}

void CPostAnalyseDlg::wheelEvent(QWheelEvent* event) {
    const QPoint angle = event->angleDelta();
    Wheel(angle.y() != 0 ? angle.y() : angle.x(), event->modifiers(), event->buttons());
    event->accept();
}

bool CPostAnalyseDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_cbChannel && event->type() == QEvent::Wheel) {
        wheelEvent(static_cast<QWheelEvent*>(event));
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void CPostAnalyseDlg::Wheel(int delta, Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons) {
    CViewRange view = View();
    if (modifiers == Qt::ShiftModifier && buttons == Qt::NoButton) {
        if (!m_graph.m_bTimeWindow)
            return; // no file yet
        m_graph.m_bAutoScaleX = false;
        m_graph.m_fXWidth =
            WheelTimeStep(view, m_graph.m_fDataXMin, m_graph.m_fDataXMax, delta < 0);
    } else {
        m_graph.m_bAutoScaleY = false;
        WheelValueStep(view, delta < 0);
    }
    SetView(view);
    RecomputeStatistics(false);
    update();
}

void CPostAnalyseDlg::OnScales() {
    CRangeDlg dialog(this);
    dialog.m_fTimeMin = m_graph.m_fXMin;
    dialog.m_fTimeMax = m_graph.m_fXMax;
    dialog.m_fPowerMin = m_graph.m_fYMin;
    dialog.m_fPowerMax = m_graph.m_fYMax;
    dialog.SetStartTime(m_graph.m_timeStart);
    if (dialog.exec() == QDialog::Accepted) {
        m_graph.m_bAutoScaleX = false;
        m_graph.m_bAutoScaleY = false;
        m_graph.m_fXMin = dialog.m_fTimeMin;
        m_graph.m_fXMax = dialog.m_fTimeMax;
        m_graph.m_fYMin = dialog.m_fPowerMin;
        m_graph.m_fYMax = dialog.m_fPowerMax;
    }
    RecomputeStatistics(true);
}

void CPostAnalyseDlg::OnScreenshot() {
    SaveScreenshotAt(std::time(nullptr));
}

void CPostAnalyseDlg::SaveScreenshotAt(std::time_t when) {
    const QImage picture = CaptureClientArea(this, rect(), palette().color(QPalette::Window));
    const std::string path = ScreenshotFileName(m_strScreenshotBase, when, "%Y%m%d_%H%M%S");
    std::string error;
    if (SaveScreenshot(picture, path, error))
        KelvarinMessageBox(this, QFile::decodeName(QByteArray::fromStdString(path)));
    else
        KelvarinMessageBox(this, QString::fromStdString(error));
}

void CPostAnalyseDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    m_graph.m_rcPlot = CPlotRect{100, 50, width() - 290, height() - 30};
    m_graph.m_bAbortDraw = true;
}

QImage CPostAnalyseDlg::Render() {
    QImage image(size(), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(font());
    const bool showProgress = IsLoading() && m_loadClock.elapsed() > kShowProgressAfterMs;
    m_graph.m_bLoading = showProgress;
    m_graph.Draw(painter, m_texts);
    m_graph.m_bLoading = false;
    if (showProgress) {
        const uint64_t total = m_progress.m_nTotalBytes.load();
        const int percent =
            total > 0 ? static_cast<int>(100.0 * static_cast<double>(m_progress.m_nBytesRead) /
                                         static_cast<double>(total))
                      : 0;
        const CPlotRect& r = m_graph.m_rcPlot;
        painter.drawText(QRect(r.left, (r.top + r.bottom) / 2 + 10, r.right - r.left, 20),
                         Qt::AlignHCenter | Qt::AlignTop, QStringLiteral("%1 %").arg(percent));
    }
    m_stats.DrawStatisticsPanel(painter);
    if (m_bDragging) {
        painter.setPen(QPen(Qt::black, 0));
        const QPoint a = m_ptPress, c = m_ptCurrent;
        painter.drawLine(a, QPoint(a.x(), c.y()));
        painter.drawLine(QPoint(a.x(), c.y()), c);
        painter.drawLine(c, QPoint(c.x(), a.y()));
        painter.drawLine(QPoint(c.x(), a.y()), a);
    }
    return image;
}

void CPostAnalyseDlg::paintEvent(QPaintEvent*) {
    const QImage image = Render();
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), image);
}

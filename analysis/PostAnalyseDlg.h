#pragma once
// "Post-Analysis": one acquisition file at a time, a channel's curve against time with the
// statistics of what is visible. A box dragged with the mouse zooms into it, a double click
// shows everything again, the wheel zooms the value axis (with Shift the time axis), "Scales"
// types exact ranges and "Screenshot" saves a picture of the window.
//
// The file is chosen on this thread and read on a worker that hands the whole result over in
// one step; until then nothing here is touched by it. Closing the window stops a load promptly.

#include "acquisition/AcquisitionReader.h"
#include "gui/TextCache.h"
#include "gui/UiThreadQueue.h"
#include "render/GraphRenderer.h"
#include "render/Statistics.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QImage>
#include <QPoint>
#include <QTimer>

#include <array>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class QComboBox;
class QPushButton;
struct CViewRange;

class CPostAnalyseDlg : public QDialog {
    Q_OBJECT

public:
    explicit CPostAnalyseDlg(QWidget* parent = nullptr);
    ~CPostAnalyseDlg() override;

    static constexpr int kWidth = 870; // 580 x 415 dialog units
    static constexpr int kHeight = 664;

    CGraphRenderer m_graph;
    CTextCache m_texts; // the axis labels, laid out once
    CStatistics m_stats;
    std::vector<std::string> m_astrChannelNames;
    QComboBox* m_cbChannel;
    std::string m_strFileName;
    QPoint m_ptCurrent;
    bool m_bDragging = false;
    QPoint m_ptPress;
    std::string m_strScreenshotBase;
    std::array<std::vector<CGraphData>, CAcquisitionData::kSeries> m_aChannel;

    // Reads `path` on the worker; the result arrives on this thread (IsLoading() false again).
    void LoadAcquisitionFile(const std::string& path);
    bool IsLoading() const { return m_loader.joinable(); }
    void FillChannelList();
    void SelectChannel();
    void RecomputeStatistics(bool invalidate);
    void OnScales();
    void OnScreenshot();
    void SaveScreenshotAt(std::time_t when);
    // The window's picture as it is painted (curve, panel, rubber band).
    QImage Render();

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct LoadResult {
        CAcquisitionData data;
        std::string error;
        bool ok = false;
    };
    void AskForFile();
    void OnLoaded(const std::shared_ptr<LoadResult>& result);
    void StopLoading();
    bool InPlot(const QPoint& point) const;
    CViewRange View() const;
    void SetView(const CViewRange& view);
    void Wheel(int delta, Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons);

    QPushButton* m_buttonScales;
    QPushButton* m_buttonScreenshot;
    bool m_bAskedForFile = false;
    std::thread m_loader;
    CLoadProgress m_progress;
    QElapsedTimer m_loadClock;
    QTimer m_progressTimer;
    CUiThreadQueue m_queue;
};

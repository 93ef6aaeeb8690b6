#pragma once
// The pane of one position: the link to its meter (port, polling thread, calibrated readings,
// alarm, graph samples, statistics) and its display (the value in large type, the graph or the
// statistics table, repainted at the shared 300 ms tick when something changed).
//
// Threads: the polling thread reads the port every 50 ms and feeds OnNewValue; while the meter is
// lost it tries the port again every two seconds; with no port it sleeps until one is opened.
// Everything else runs on the UI thread. m_fValue, m_bAlarm and the flags are atomic; the graph,
// the statistics and m_config are guarded by m_lock for the polling thread's reads (UI-thread
// writes take it), which is held for each append-and-trim, each reset and while a paint copies
// what it draws.

#include "detectors/ChannelConfig.h"
#include "detectors/ChannelConfigFile.h"
#include "detectors/ComAccessDlg.h"
#include "link/MeterLink.h"
#include "render/GraphRenderer.h"
#include "render/Statistics.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QWidget>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class QMenu;
class CRepaintTicker;
class CScaleSelect;

// Pixel height and average character width asked of a font, and its weight on the 0 to 1000
// scale (heavier than 900 takes the heaviest face).
struct FontSpec {
    int height = 0;
    int width = 0;
    int weight = 400;
};
// The size-dependent fonts of a pane of cx by cy pixels.
FontSpec ValueFontSpec(int cx, int cy);
FontSpec StatsFontSpec(int cx, int cy);
// "Arial" at the pixel height, stretched so its average character width is the width asked.
QFont MakeFont(const FontSpec& asked);

class CKelvarinView : public QWidget {
    Q_OBJECT

public:
    explicit CKelvarinView(QWidget* parent = nullptr);
    ~CKelvarinView() override;

    // Link.
    CChannelConfig m_config; // gain, offset and levels: change them with SetConfig
    CComAccessDlg m_dlgCom;  // the port
    CMeterLink m_link{m_dlgCom};
    std::atomic<float> m_fValue{0.0f};
    std::atomic<bool> m_bAlarm{false};
    std::atomic<bool> m_bPauseReading{false};
    std::atomic<bool> m_bAcquiring{false};
    std::atomic<int> m_nGraphMaxPoints{2000};
    // Readings taken since the pane was created, whatever was reset since.
    std::atomic<uint64_t> m_nReadingCount{0};

    // Display: 0 Real Time, 1 Statistics, 2 Graphic.
    enum { RealTime = 0, Statistics = 1, Graphic = 2 };
    int m_nDisplayMode = RealTime;

    // Connected: its meter answers. Bound: connected, or lost and waiting for its meter to come
    // back; a bound pane keeps its position, menu and settings.
    bool IsConnected() const { return m_link.IsConnected(); }
    bool IsBound() const { return m_link.IsBound(); }
    bool IsLost() const { return m_link.State() == LinkState::Lost; }
    // Opens the port of the position at 57600 baud, waits 400 ms and restarts the graph. A port
    // that fails to open leaves the pane unconnected; nothing is shown.
    void OpenPort(const std::string& portName);
    void ApplyWavelengthAndStart();
    // Loads the stored settings of m_config.m_strSerial. Damaged: `error` names the file.
    ConfigLoad LoadChannelConfig(std::string& error);
    // Stores the settings when a meter was identified; false with `error` when that failed.
    bool SaveChannelConfig(std::string& error);
    // Replaces the record, under the lock the polling thread reads calibration under.
    void SetConfig(const CChannelConfig& config);
    // One sample per acquisition tick while acquiring; returns the current value.
    float SampleForAcquisition();
    // Called for each calibrated reading (on the polling thread).
    void OnNewValue(float value);
    void ResetGraph();
    void OnChannelConfiguration();
    void IdentifyMeter();
    void ClosePort();
    // The pane's own destroy operation: announces itself, closes the link, hides the pane.
    void DestroyWindow();

    void OnCommand(int id);
    // The pane's context menu (only offered while the port is open). Owned by the caller.
    QMenu* CreateContextMenu(QWidget* parent);

    // A consistent copy of what the pane shows, for painting and for tests.
    CGraphRenderer GraphSnapshot() const;
    CStatistics StatisticsSnapshot() const;
    // The scales chosen in the scale dialog (the levels are not copied back).
    void SetGraphScales(const CScaleSelect& dialog);
    void ResetStatistics();
    void EnableStatistics();
    const FontSpec& ValueFont() const { return m_valueFontSpec; }
    const FontSpec& StatsFont() const { return m_statsFontSpec; }
    // Paints the pane into an image of its size, as the screen shows it.
    QImage Render();

signals:
    // The record was edited with OK (the frame copies it); first argument the position index.
    void channelConfigured(int position);
    // "Full Screen": show this position alone.
    void showPositionFull(int position);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void PollThreadProc();
    void PollOnce();
    void WakePolling();
    // Marks the content changed, for the next tick to paint.
    void Touch() { m_nRevision.fetch_add(1, std::memory_order_relaxed); }
    void OnRepaintTick();
    void AppendSampleLocked(float value);
    void StopPolling();
    void PauseReading();
    void RenderInto(QImage& image);
    void PaintRealTime(QPainter& painter, float value, const QColor& color);
    void PaintStatistics(QPainter& painter, float value, const QColor& color);
    void PaintGraphic(QPainter& painter, float value, const QColor& color);
    void PaintLost(QPainter& painter);
    void OnScaleSelect(const QPoint& at);

    mutable std::mutex m_lock; // m_graph, m_stats, m_dwStartTicks, m_config
    CGraphRenderer m_graph;
    CStatistics m_stats;
    uint32_t m_dwStartTicks;
    bool m_bScaleFollowsData = false; // m_fYMin/m_fYMax are the extremes of the samples

    std::thread m_pollThread;
    std::mutex m_pollPass; // held by the polling thread for each read-and-parse pass
    std::mutex m_sleepLock;
    std::condition_variable m_wake;
    bool m_bStopPolling = false; // under m_sleepLock

    std::shared_ptr<CRepaintTicker> m_ticker;
    std::atomic<uint32_t> m_nRevision{0};
    // What the last paint showed; a tick with the same asks for none.
    struct Shown {
        uint64_t readings = ~0ull;
        uint32_t revision = 0;
        int mode = -1;
        bool alarm = false;
        LinkState state = LinkState::Closed;
        bool operator==(const Shown& other) const {
            return readings == other.readings && revision == other.revision && mode == other.mode &&
                   alarm == other.alarm && state == other.state;
        }
    } m_shown;
    QImage m_paintBuffer;
    FontSpec m_valueFontSpec;
    FontSpec m_statsFontSpec;
    QFont m_fontValue;
    QFont m_fontStats;
    QFont m_fontSmall;
    QFont m_fontLarge;
};

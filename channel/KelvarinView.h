#pragma once
// The pane of one position: a view of its channel (the Qt-free core that owns the port, the
// worker, the readings, the alarm, the graph samples and the statistics). The pane paints the
// value in large type, the graph or the statistics table at the shared 300 ms tick when
// something changed, handles the mouse and the menus, and turns commands into requests to the
// channel; it never waits for the meter.

#include "channel/Channel.h"
#include "detectors/ComAccessDlg.h"
#include "gui/LargeTextCache.h"
#include "gui/TextCache.h"
#include "render/GraphRenderer.h"
#include "render/Statistics.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QRegion>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

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
    // `channel` outlives the pane.
    explicit CKelvarinView(CChannel& channel, QWidget* parent = nullptr);
    ~CKelvarinView() override;

    CChannel& Channel() const { return m_channel; }

    // Display: 0 Real Time, 1 Statistics, 2 Graphic, 3 Tuning (the value over a bar with its
    // peak-hold mark, repainted every 50 ms).
    enum { RealTime = 0, Statistics = 1, Graphic = 2, Tuning = 3 };
    int m_nDisplayMode = RealTime;

    // The other positions' channels (none beyond the bench): the "Reference" menu offers those
    // with a meter, and a position taken as reference gives its live reading.
    using BenchLookup = std::function<const CChannel*(int position)>;
    void SetBench(BenchLookup bench) { m_bench = std::move(bench); }
    // The power dB and % are read against now (0 when there is none).
    double ReferenceWatts(const CDisplayAids& aids) const;

    // Connected: its meter answers. Bound: connecting, connected, or lost and waiting for its
    // meter to come back; a bound pane keeps its position, menu and settings.
    bool IsConnected() const { return m_channel.IsConnected(); }
    bool IsBound() const { return m_channel.IsBound(); }
    bool IsLost() const { return m_channel.IsLost(); }

    void OnChannelConfiguration();
    // The port dialog opens the chosen port; the channel then asks the meter who it is and
    // starts it.
    void IdentifyMeter();
    void ClosePort();
    // The pane's own destroy operation: announces itself, closes the link, hides the pane.
    void DestroyWindow();

    void OnCommand(int id);
    // The pane's context menu (only offered while the port is open). Owned by the caller.
    QMenu* CreateContextMenu(QWidget* parent);

    const FontSpec& ValueFont() const { return m_valueFontSpec; }
    const FontSpec& StatsFont() const { return m_statsFontSpec; }
    const CPlotRect& PlotRect() const { return m_rcPlot; }
    // Paints the pane into an image of its size, as the screen shows it.
    QImage Render();
    // What the pane says of its meter at its foot (empty while its readings are live), and
    // whether its value is live (black or red) rather than grey.
    struct PaneState {
        bool live = false;
        QString foot;
        QString zero; // "Zero: " and the zero while one is set
    };
    PaneState State() const;

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
    void OnRepaintTick();
    void RenderWith(QPainter& painter);
    void FillBackground(QPainter& painter) const;
    void PaintRealTime(QPainter& painter, float value, const QColor& color);
    void PaintStatistics(QPainter& painter, float value, const QColor& color);
    void PaintGraphic(QPainter& painter, float value, const QColor& color);
    void PaintTuning(QPainter& painter, float value, const QColor& color);
    // Where the tuning display draws, and the rows a new reading may change.
    struct TuningLayout {
        int valueTop = 0;
        QRect bar;
        int scaleY = 0;
        int peakY = 0;
        QRect valueRow;
        QRect barRows;   // the bar and its mark
        QRect labelRows; // the scale's ends and the peak
    };
    TuningLayout TuningGeometry() const;
    // What the tuning display shows of a reading: a tick repaints only the rows whose part of
    // it changed (at the full line rate the bar often stays on the same pixel).
    struct TuningFrame {
        QString value;
        QColor color;
        int filled = 0;
        int markX = -1;
        QString fullScale;
        QString peak;
    };
    TuningFrame TuningContent(float value, const QColor& color, const QRect& bar) const;
    // The colour of the value now: black or red while live, grey otherwise.
    QColor ValueColor(const PaneState& pane) const;
    TuningFrame m_tuningShown; // what the last tick asked to be painted
    QRegion m_exposed;         // during a paint of the screen: what it covers (null: all)
    void PaintFoot(QPainter& painter, const QString& text, const QColor& color);
    // On the tuning display's 50 ms ticker while the pane shows it.
    void FollowDisplayMode();
    // Display aids: taken by the channel at once and kept in the head's file.
    void ChangeAids(const CDisplayAids& aids);
    void OnZero();
    void OnReferenceCurrentValue();
    void OnScaleSelect(const QPoint& at);

    CChannel& m_channel;
    CComAccessDlg m_dlgCom; // picks and tries the port of IdentifyMeter
    CPlotRect m_rcPlot;     // where the graph is drawn in this pane

    std::shared_ptr<CRepaintTicker> m_ticker;
    std::shared_ptr<CRepaintTicker> m_tuningTicker; // ticks this pane in the tuning display
    bool m_bOnTuningTicker = false;
    BenchLookup m_bench;
    // What the last paint showed; a tick with the same asks for none.
    struct Shown {
        uint64_t readings = ~0ull;
        uint32_t revision = 0;
        int mode = -1;
        bool alarm = false;
        LinkState state = LinkState::Closed;
        bool silent = false; // turns without any change of the channel: looked at every tick
        bool operator==(const Shown& other) const {
            return readings == other.readings && revision == other.revision && mode == other.mode &&
                   alarm == other.alarm && state == other.state && silent == other.silent;
        }
    } m_shown;
    FontSpec m_valueFontSpec;
    FontSpec m_statsFontSpec;
    QFont m_fontValue;
    QFont m_fontStats;
    QFont m_fontSmall;
    QFont m_fontLarge;
    CTextCache m_texts;                            // labels, names and serials, laid out once
    std::shared_ptr<CLargeTextCache> m_largeTexts; // the value's characters, rendered once
};

// The display side of a pane: fonts, painting, context menu, double-click and the scale dialog.

#include "channel/KelvarinView.h"

#include "channel/ScaleSelect.h"
#include "detectors/DisplayAids.h"
#include "gui/SingleByteText.h"
#include "render/DisplayUnit.h"
#include "render/GraphGeometry.h"
#include "render/StatisticsTable.h"
#include "render/ValueFormat.h"
#include "res/CommandIds.h"

#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QImage>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>

#include <algorithm>
#include <cmath>

namespace {

const QColor kBlack(0, 0, 0);
const QColor kRed(255, 0, 0);
// A lost meter's last value: plainly not a live reading, still legible.
const QColor kGrey(150, 150, 150);
// The tuning bar's fill, and its peak-hold mark.
const QColor kBarFill(0, 140, 60);
const QColor kPeakMark(255, 0, 0);

} // namespace

FontSpec ValueFontSpec(int cx, int cy) {
    return {cy / 5, cx / 25, 1400};
}

FontSpec StatsFontSpec(int cx, int cy) {
    return {9 * cy / 100, 3 * cx / 100, 1400};
}

QFont MakeFont(const FontSpec& asked) {
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(std::max(1, asked.height));
    font.setWeight(asked.weight > 900 ? QFont::Black
                                      : static_cast<QFont::Weight>(std::max(1, asked.weight)));
    if (asked.width > 0) {
        const int natural = QFontMetrics(font).averageCharWidth();
        if (natural > 0)
            font.setStretch(std::clamp(asked.width * 100 / natural, 1, 4000));
    }
    return font;
}

void CKelvarinView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int cx = width();
    const int cy = height();
    // The graph is drawn from a copy taken at each paint, so a resize has no drawing to stop.
    m_rcPlot = CPlotRect{100, 50, cx - 40, cy - 20};
    m_valueFontSpec = ValueFontSpec(cx, cy);
    m_statsFontSpec = StatsFontSpec(cx, cy);
    m_fontValue = MakeFont(m_valueFontSpec);
    m_fontStats = MakeFont(m_statsFontSpec);
}

QImage CKelvarinView::Render() {
    QImage image(size(), QImage::Format_RGB32);
    QPainter painter(&image);
    RenderWith(painter);
    return image;
}

void CKelvarinView::FillBackground(QPainter& painter) const {
    // The graph's frame is drawn with a white brush and covers its plot: only the margins around
    // it are filled here, not the plot twice.
    const CPlotRect& r = m_rcPlot;
    const int w = width(), h = height();
    if (m_nDisplayMode != Graphic || r.left < 0 || r.top < 0 || r.right > w || r.bottom > h ||
        r.right - r.left < 2 || r.bottom - r.top < 2) {
        painter.fillRect(rect(), Qt::white);
        return;
    }
    painter.fillRect(QRect(0, 0, w, r.top), Qt::white);
    painter.fillRect(QRect(0, r.bottom, w, h - r.bottom), Qt::white);
    painter.fillRect(QRect(0, r.top, r.left, r.bottom - r.top), Qt::white);
    painter.fillRect(QRect(r.right, r.top, w - r.right, r.bottom - r.top), Qt::white);
}

void CKelvarinView::RenderWith(QPainter& painter) {
    // One read of the value, the alarm and the link for the whole paint.
    const float value = m_channel.Value();
    const PaneState pane = State();
    const QColor color = ValueColor(pane);
    FillBackground(painter);
    painter.setPen(kBlack);
    switch (m_nDisplayMode) {
    case RealTime:
        PaintRealTime(painter, value, color);
        break;
    case Statistics:
        PaintStatistics(painter, value, color);
        break;
    case Graphic:
        PaintGraphic(painter, value, color);
        break;
    case Tuning:
        PaintTuning(painter, value, color);
        break;
    default:
        break;
    }
    // The head's names along the top, unless the paint is of rows below them only (the tuning
    // display's ticks).
    if (m_exposed.isNull() || m_exposed.intersects(QRect(0, 0, width(), 50))) {
        const CChannelConfig config = m_channel.Config();
        painter.setPen(kBlack);
        painter.setFont(m_fontLarge);
        // Right-aligned 5 pixels from the edge, laid out once.
        const QString title = ToQt(config.m_strTitle);
        m_texts.DrawAt(painter, width() - 5 - m_texts.Width(painter, title), 10, title);
        painter.setFont(m_fontSmall);
        m_texts.DrawAt(painter, 10, 10, ToQt(config.m_strName));
        m_texts.DrawAt(painter, 10, 30, ToQt(config.m_strSerial));
    }
    if (!pane.foot.isEmpty())
        PaintFoot(painter, pane.foot, kRed);
    else if (!pane.zero.isEmpty())
        PaintFoot(painter, pane.zero, kBlack);
}

QColor CKelvarinView::ValueColor(const PaneState& pane) const {
    // Neither a lost or silent meter's last value nor the zero of one not read yet is live.
    return pane.live ? (m_channel.Alarm() ? kRed : kBlack) : kGrey;
}

CKelvarinView::PaneState CKelvarinView::State() const {
    PaneState pane;
    const LinkState state = m_channel.State();
    if (state == LinkState::Lost) {
        pane.foot = QStringLiteral("Meter lost at %1")
                        .arg(QString::fromStdString(FormatTimeLabel(m_channel.LostAt(), 0)));
    } else if (state == LinkState::Connecting ||
               (state == LinkState::Connected && !m_channel.HasReading())) {
        // Being connected, or connected or back and not read yet: nothing to show yet.
        pane.foot = QStringLiteral("Waiting for the meter");
    } else if (m_channel.IsSilent()) {
        pane.foot = QStringLiteral("No reading since %1")
                        .arg(QString::fromStdString(FormatTimeLabel(
                            static_cast<std::time_t>(m_channel.LastReadingTime()), 0)));
    } else {
        pane.live = true; // an unbound pane's zero is black, as it always was
    }
    const CDisplayAids aids = m_channel.DisplayAids();
    if (aids.HasZero())
        pane.zero = QStringLiteral("Zero: ") + ToQt(FormatBigValue(aids.m_fZero));
    return pane;
}

void CKelvarinView::PaintFoot(QPainter& painter, const QString& text, const QColor& color) {
    painter.setFont(m_fontSmall);
    painter.setPen(color);
    // Under the value in the graph display, at the foot of the pane in the others.
    const int y = m_nDisplayMode == Graphic ? 28 : height() - 28;
    painter.drawText(QRect(0, y, width(), 20), Qt::AlignHCenter | Qt::AlignTop, text);
}

void CKelvarinView::paintEvent(QPaintEvent* event) {
    // Painted straight into the window's buffer, which is itself off screen and shown in one
    // transfer: the pane never flickers, and no image of its own is copied in three times a
    // second.
    m_exposed = event->region();
    QPainter painter(this);
    RenderWith(painter);
    m_exposed = QRegion();
}

void CKelvarinView::PaintRealTime(QPainter& painter, float value, const QColor& color) {
    const CDisplayAids aids = m_channel.DisplayAids();
    const QString text = ToQt(FormatInUnit(aids.m_unit, value, ReferenceWatts(aids)));
    painter.setFont(m_fontValue);
    painter.setPen(color);
    m_largeTexts->DrawAt(painter, width() / 2 - m_largeTexts->Width(painter, text) / 2,
                         height() / 2 - painter.fontMetrics().height() / 2, text);
}

void CKelvarinView::PaintStatistics(QPainter& painter, float value, const QColor& color) {
    const CStatistics stats = m_channel.StatisticsSnapshot();
    painter.setFont(m_fontStats);
    painter.setPen(color);
    const int valueColumn = static_cast<int>(width() * 0.66);
    const QFontMetrics metrics = painter.fontMetrics();
    int y = 35;
    for (const auto& [label, text] : StatisticsTableLines(stats, value)) {
        m_texts.DrawAt(painter, 25, y, ToQt(label));
        TextAt(painter, valueColumn, y, ToQt(text));
        y += metrics.height();
    }
}

void CKelvarinView::PaintGraphic(QPainter& painter, float value, const QColor& color) {
    painter.setFont(QFont());
    painter.setPen(color);
    painter.drawText(QRect(0, 10, width(), height() - 10), Qt::AlignHCenter | Qt::AlignTop,
                     ToQt(FormatBigValue(value)));
    painter.setPen(kBlack);
    painter.setBrush(Qt::white);
    // Drawn from a copy so the channel's worker never waits for a paint.
    CGraphRenderer graph = m_channel.GraphSnapshot();
    graph.m_rcPlot = m_rcPlot;
    graph.Draw(painter, m_texts);
    painter.setBrush(Qt::NoBrush);
}

CKelvarinView::TuningLayout CKelvarinView::TuningGeometry() const {
    const int w = width(), h = height();
    TuningLayout layout;
    const int valueHeight = QFontMetrics(m_fontValue).height();
    layout.valueTop = h * 36 / 100 - valueHeight / 2;
    layout.bar = QRect(w * 8 / 100, h * 58 / 100, w * 84 / 100, std::max(8, h * 11 / 100));
    layout.scaleY = layout.bar.bottom() + 6;
    layout.peakY = layout.scaleY + 20;
    // What a reading may change: the value's row, the bar with its mark, the scale and peak.
    const int peakBottom = layout.peakY + QFontMetrics(m_fontLarge).height() + 2;
    layout.valueRow = QRect(0, layout.valueTop, w, valueHeight);
    // The mark reaches 5 pixels above and 6 below the bar.
    layout.barRows = QRect(0, layout.bar.top() - 5, w, layout.bar.height() + 12);
    layout.labelRows = QRect(0, layout.scaleY, w, peakBottom - layout.scaleY);
    return layout;
}

CKelvarinView::TuningFrame CKelvarinView::TuningContent(float value, const QColor& color,
                                                        const QRect& bar) const {
    const CDisplayAids aids = m_channel.DisplayAids();
    const double reference = ReferenceWatts(aids);
    const CPeakHold peak = m_channel.Peak();
    TuningFrame frame;
    frame.value = ToQt(FormatInUnit(aids.m_unit, value, reference));
    frame.color = color;
    frame.filled = static_cast<int>(std::lround(peak.Fraction(value) * bar.width()));
    frame.markX =
        peak.HasPeak()
            ? bar.left() + static_cast<int>(std::lround(peak.Fraction(peak.Peak()) * bar.width()))
            : -1;
    frame.fullScale = ToQt(FormatBigValue(peak.FullScale()));
    frame.peak = QStringLiteral("Peak: ") +
                 (peak.HasPeak() ? ToQt(FormatInUnit(aids.m_unit, peak.Peak(), reference))
                                 : QStringLiteral("---"));
    return frame;
}

void CKelvarinView::PaintTuning(QPainter& painter, float value, const QColor& color) {
    const TuningLayout layout = TuningGeometry();
    const TuningFrame frame = TuningContent(value, color, layout.bar);

    // A tick repaints only the rows that changed: the others are not drawn again.
    const auto exposed = [this](const QRect& rows) {
        return m_exposed.isNull() || m_exposed.intersects(rows);
    };

    // The value as Real Time shows it, in the upper half.
    if (exposed(layout.valueRow)) {
        painter.setFont(m_fontValue);
        painter.setPen(color);
        m_largeTexts->DrawAt(painter, width() / 2 - m_largeTexts->Width(painter, frame.value) / 2,
                             layout.valueTop, frame.value);
    }

    // The bar from 0 to the full scale of the peak's range; the mark at the peak.
    const QRect& bar = layout.bar;
    if (exposed(layout.barRows)) {
        painter.setPen(kBlack);
        painter.setBrush(Qt::white);
        painter.drawRect(bar);
        painter.fillRect(
            QRect(bar.left() + 1, bar.top() + 1, std::max(0, frame.filled - 1), bar.height() - 1),
            color == kGrey ? kGrey : kBarFill);
        painter.setBrush(Qt::NoBrush);
        if (frame.markX >= 0)
            painter.fillRect(QRect(frame.markX - 1, bar.top() - 5, 3, bar.height() + 11),
                             kPeakMark);
    }

    // The scale's ends under the bar, and the peak in the pane's unit.
    if (!exposed(layout.labelRows))
        return;
    painter.setFont(m_fontSmall);
    painter.setPen(kBlack);
    m_texts.DrawAt(painter, bar.left(), layout.scaleY, QStringLiteral("0"));
    m_texts.DrawAt(painter, bar.right() - m_texts.Width(painter, frame.fullScale), layout.scaleY,
                   frame.fullScale);
    painter.setFont(m_fontLarge);
    m_texts.DrawAt(painter, width() / 2 - m_texts.Width(painter, frame.peak) / 2, layout.peakY,
                   frame.peak);
}

QMenu* CKelvarinView::CreateContextMenu(QWidget* parent) {
    auto* menu = new QMenu(QStringLiteral("Context"), parent);
    const auto add = [this](QMenu* to, const QString& text, int id) {
        QAction* action = to->addAction(text);
        action->setData(id);
        connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
        return action;
    };
    add(menu, QStringLiteral("Full Screen"), Command::FullScreen);
    menu->addSeparator();
    add(menu, QStringLiteral("Real Time Display"), Command::RealTimeDisplay);
    add(menu, QStringLiteral("Graphic Display"), Command::GraphicDisplay);
    add(menu, QStringLiteral("Statistics Display"), Command::StatisticsDisplay);
    add(menu, QStringLiteral("Tuning Display"), Command::TuningDisplay);
    menu->addSeparator();
    add(menu, QStringLiteral("Channel Configuration"), Command::ChannelConfiguration);
    menu->addSeparator();
    add(menu, QStringLiteral("Reset Graphic"), Command::ResetGraphic);
    add(menu, QStringLiteral("Reset Statistics"), Command::ResetStatistics);
    add(menu, QStringLiteral("Reset Alarms"), Command::ResetAlarms);
    add(menu, QStringLiteral("Reset Peak"), Command::ResetPeak);
    menu->addSeparator();
    const CDisplayAids aids = m_channel.DisplayAids();
    add(menu, QStringLiteral("Zero"), Command::Zero);
    add(menu, QStringLiteral("Clear Zero"), Command::ClearZero)->setEnabled(aids.HasZero());

    QMenu* units = menu->addMenu(QStringLiteral("Units"));
    const std::pair<DisplayUnit, int> unitEntries[] = {
        {DisplayUnit::Watt, Command::UnitWatt},
        {DisplayUnit::Dbm, Command::UnitDbm},
        {DisplayUnit::Db, Command::UnitDb},
        {DisplayUnit::Percent, Command::UnitPercent}};
    for (const auto& [unit, id] : unitEntries) {
        QAction* action = add(units, QLatin1String(DisplayUnitName(unit)), id);
        action->setCheckable(true);
        action->setChecked(aids.m_unit == unit);
    }

    // Another position offered as reference only while it has a meter.
    QMenu* reference = menu->addMenu(QStringLiteral("Reference"));
    QAction* current =
        add(reference, QStringLiteral("Current Value"), Command::ReferenceCurrentValue);
    current->setCheckable(true);
    current->setChecked(aids.m_reference == CDisplayAids::Reference::Value);
    const int own = m_channel.Config().m_nPosition;
    for (int p = 0; p <= Command::ReferencePosition8 - Command::ReferencePosition1; ++p) {
        const CChannel* other = m_bench ? m_bench(p) : nullptr;
        if (p == own || !other || !other->IsBound())
            continue;
        QAction* action = add(reference, QStringLiteral("Position %1").arg(p + 1),
                              Command::ReferencePosition1 + p);
        action->setCheckable(true);
        action->setChecked(aids.m_reference == CDisplayAids::Reference::Position &&
                           aids.m_nReferencePosition == p);
    }
    QAction* none = add(reference, QStringLiteral("None"), Command::ReferenceNone);
    none->setCheckable(true);
    none->setChecked(aids.m_reference == CDisplayAids::Reference::None);
    return menu;
}

void CKelvarinView::contextMenuEvent(QContextMenuEvent* event) {
    if (!IsBound())
        return; // an unconnected pane has no menu; a lost one keeps its own
    QMenu* menu = CreateContextMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void CKelvarinView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (!IsBound())
        return;
    if (m_nDisplayMode != Graphic)
        OnChannelConfiguration();
    else
        OnScaleSelect(event->position().toPoint());
    QWidget::mouseDoubleClickEvent(event);
}

void CKelvarinView::OnScaleSelect(const QPoint& at) {
    const CGraphRenderer graph = m_channel.GraphSnapshot();
    const CPlotRect& plot = m_rcPlot;
    const bool inPlot =
        at.x() >= plot.left && at.x() < plot.right && at.y() >= plot.top && at.y() < plot.bottom;
    if (inPlot || graph.m_bLoading)
        return;
    CScaleSelect dialog(this);
    dialog.m_bAutoY = graph.m_bAutoScaleY;
    dialog.m_bAutoX = graph.m_bAutoScaleX;
    dialog.m_fMaxY = graph.m_fYMax;
    dialog.m_fMinY = graph.m_fYMin;
    dialog.m_fMaxX = graph.m_fXMax;
    dialog.m_fMinX = graph.m_fXMin;
    const CChannelConfig config = m_channel.Config();
    dialog.m_fLevelHigh = config.m_fLevelHigh;
    dialog.m_fLevelLow = config.m_fLevelLow;
    if (dialog.exec() != QDialog::Accepted)
        return;
    // The levels are not copied back: they belong to the channel's configuration.
    m_channel.SetGraphScales({dialog.m_bAutoY, dialog.m_bAutoX, dialog.m_fMaxY, dialog.m_fMinY,
                              dialog.m_fMaxX, dialog.m_fMinX});
    update();
}

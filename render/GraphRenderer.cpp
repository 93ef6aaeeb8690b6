#include "render/GraphRenderer.h"

#include "gui/SingleByteText.h"
#include "gui/TextCache.h"
#include "render/ValueFormat.h"

#include <QFontMetrics>
#include <QPaintEngine>
#include <QPainter>
#include <QPen>

#include <cfloat>
#include <climits>
#include <cmath>
#include <optional>

namespace {

const QColor kGridColour(60, 60, 60);
const QColor kLevelColour(255, 0, 0);
const QColor kCurveColour(0, 0, 255);

QPen SolidPen(const QColor& colour, int width) {
    QPen pen(colour, width, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    return pen;
}

// A line as the old drawing interface drew it: the end point itself is not painted.
void LineTo(QPainter& painter, int x1, int y1, int x2, int y2) {
    if (x1 == x2)
        painter.drawLine(x1, y1, x2, y2 > y1 ? y2 - 1 : y2 + 1);
    else
        painter.drawLine(x1, y1, x2 > x1 ? x2 - 1 : x2 + 1, y2);
}

// Where the curve's pixels go: a 32-bit image, the pane's origin in it and the pixels that may be
// written (a pane painted into the window's buffer writes only inside what it repaints).
struct CCurveTarget {
    QImage* image = nullptr;
    QPoint origin;
    QRect clip;
};

// The curve's pixels, by one rule that composes: a line paints every pixel from its start to its
// end, both included (a vertical one, its rows from the higher to the lower). So the lines
// between the samples of one pixel column together paint that column from its highest row to
// its lowest, whatever their order; drawn as that one span, they paint exactly the same. A
// column holding thousands of samples thus costs one span, and the lines between columns are
// drawn as they are. The pixels are written into the image directly: a long series paints
// hundreds of thousands of them per picture.
class CCurvePixels {
public:
    CCurvePixels(const CCurveTarget& target, QRgb colour)
        : m_bits(target.image->bits()), m_stride(target.image->bytesPerLine()),
          m_dx(target.origin.x()), m_dy(target.origin.y()), m_left(target.clip.left()),
          m_top(target.clip.top()), m_right(target.clip.right()), m_bottom(target.clip.bottom()),
          m_colour(colour) {}

    void Line(int x0, int y0, int x1, int y1) {
        if (x0 == x1) {
            Span(x0, y0, y1);
            return;
        }
        // Bresenham, both ends included.
        const int dx = std::abs(x1 - x0);
        const int dy = -std::abs(y1 - y0);
        const int sx = x0 < x1 ? 1 : -1;
        const int sy = y0 < y1 ? 1 : -1;
        int error = dx + dy;
        for (;;) {
            Plot(x0, y0);
            if (x0 == x1 && y0 == y1)
                return;
            const int twice = 2 * error;
            if (twice >= dy) {
                error += dy;
                x0 += sx;
            }
            if (twice <= dx) {
                error += dx;
                y0 += sy;
            }
        }
    }

    void Span(int x, int y0, int y1) {
        x += m_dx;
        if (x < m_left || x > m_right)
            return;
        const int top = std::max(m_top, std::min(y0, y1) + m_dy);
        const int bottom = std::min(m_bottom, std::max(y0, y1) + m_dy);
        uchar* pixel = m_bits + static_cast<qsizetype>(top) * m_stride + x * 4;
        for (int y = top; y <= bottom; ++y, pixel += m_stride)
            *reinterpret_cast<QRgb*>(pixel) = m_colour;
    }

private:
    void Plot(int x, int y) {
        x += m_dx;
        y += m_dy;
        if (x >= m_left && y >= m_top && x <= m_right && y <= m_bottom)
            *reinterpret_cast<QRgb*>(m_bits + static_cast<qsizetype>(y) * m_stride + x * 4) =
                m_colour;
    }

    uchar* m_bits;
    qsizetype m_stride;
    int m_dx, m_dy;
    int m_left, m_top, m_right, m_bottom; // inclusive
    QRgb m_colour;
};

// Gathers the curve's points, column by column when reducing: a column keeps its highest and
// lowest rows, the row it was entered at and the row it is left from.
class CCurveLines {
public:
    CCurveLines(CCurvePixels& pixels, bool reduce) : m_pixels(pixels), m_bReduce(reduce) {}

    void Add(int x, int row) {
        if (!m_bStarted) {
            m_bStarted = true;
            m_x = x;
            m_low = m_high = m_last = row;
            return;
        }
        if (!m_bReduce) {
            m_pixels.Line(m_x, m_last, x, row);
            m_x = x;
            m_last = row;
            return;
        }
        if (x == m_x) {
            m_low = std::min(m_low, row);
            m_high = std::max(m_high, row);
            m_last = row;
            return;
        }
        Flush();
        m_pixels.Line(m_x, m_last, x, row); // into the next column
        m_x = x;
        m_low = m_high = m_last = row;
    }

    void Flush() {
        if (m_bReduce && m_bStarted)
            m_pixels.Span(m_x, m_low, m_high);
    }

private:
    CCurvePixels& m_pixels;
    bool m_bReduce;
    bool m_bStarted = false;
    int m_x = 0;
    int m_last = 0, m_low = 0, m_high = 0;
};

// Pixels can be written directly into the 32-bit image a painter paints into, the pane's own
// image or the window's buffer a pane paints into (moved by the pane's place in the window,
// clipped to the one rectangle being repainted); anything else (a scale, a clip of several
// rectangles, the painter's own clip) is drawn by the painter.
std::optional<CCurveTarget> DirectTarget(QPainter& painter) {
    QPaintEngine* engine = painter.paintEngine();
    QPaintDevice* device = engine ? engine->paintDevice() : nullptr;
    if (!device || device->devType() != QInternal::Image || painter.hasClipping())
        return std::nullopt;
    const QTransform& transform = painter.deviceTransform();
    if (transform.type() > QTransform::TxTranslate ||
        transform.dx() != std::floor(transform.dx()) ||
        transform.dy() != std::floor(transform.dy()))
        return std::nullopt;
    auto* image = static_cast<QImage*>(device);
    const QImage::Format format = image->format();
    if (!image->isDetached()) // bits() would write into a copy
        return std::nullopt;
    if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32 &&
        format != QImage::Format_ARGB32_Premultiplied)
        return std::nullopt;
    QRect clip = image->rect();
    const QRegion system = engine->systemClip();
    if (system.rectCount() > 1)
        return std::nullopt;
    if (system.rectCount() == 1)
        clip &= system.boundingRect();
    return CCurveTarget{
        image, QPoint(static_cast<int>(transform.dx()), static_cast<int>(transform.dy())), clip};
}

// Samples in time order fall into the columns in order, so each column's samples are found by
// a search for where the column changes rather than by mapping every sample; in a column only
// its first and last samples and its smallest and largest values decide what is painted (the
// row of a value moves one way with it). A series whose times go back somewhere (a clock set
// back while recording) or are not numbers is drawn sample by sample instead: false.
bool DrawByColumns(const CGraphRenderer& graph, CCurveLines& lines, size_t first, size_t last,
                   float firstTime, float span) {
    const auto begin = graph.m_points.cbegin() + static_cast<std::ptrdiff_t>(first);
    const auto end = graph.m_points.cbegin() + static_cast<std::ptrdiff_t>(last) + 1;
    float previous = begin->fTime;
    for (auto it = begin; it != end; ++it) {
        if (!(it->fTime >= previous))
            return false;
        previous = it->fTime;
    }
    const CPlotRect& r = graph.m_rcPlot;
    const auto column = [&](std::deque<CGraphData>::const_iterator it) {
        return SampleColumn(it->fTime, firstTime, span, r);
    };
    const auto row = [&](float value) { return CurveRow(value, graph.m_fYMin, graph.m_fYMax, r); };
    for (auto it = begin; it != end;) {
        const int x = column(it);
        // The end of the column: gallop, then bisect.
        auto inside = it;
        std::ptrdiff_t step = 1;
        auto probe = it;
        while (end - probe > step && column(probe + step) == x) {
            inside = probe + step;
            probe = inside;
            step *= 2;
        }
        auto outside = end - probe > step ? probe + step : end;
        while (outside - inside > 1) {
            const auto middle = inside + (outside - inside) / 2;
            if (column(middle) == x)
                inside = middle;
            else
                outside = middle;
        }
        float low = INFINITY, high = -INFINITY;
        bool nan = false, number = false;
        for (auto sample = it; sample != outside; ++sample) {
            const float v = sample->fValue;
            if (v != v) {
                nan = true; // drawn on the top row, as a reading that is not a number is
                continue;
            }
            number = true;
            low = std::min(low, v);
            high = std::max(high, v);
        }
        lines.Add(x, row(it->fValue));
        if (number) {
            lines.Add(x, row(low));
            lines.Add(x, row(high));
        }
        if (nan)
            lines.Add(x, row(NAN));
        lines.Add(x, row((outside - 1)->fValue));
        it = outside;
    }
    return true;
}

} // namespace

void CGraphRenderer::Draw(QPainter& painter) {
    CTextCache texts;
    Draw(painter, texts);
}

void CGraphRenderer::Draw(QPainter& painter, CTextCache& texts) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    DrawFrameAndGrid(painter);
    if (m_bLoading) {
        const QString text = QStringLiteral("Loading File...");
        const CPlotRect& r = m_rcPlot;
        texts.DrawAt(painter, (r.left + r.right) / 2 - texts.Width(painter, text) / 2,
                     (r.top + r.bottom) / 2 - painter.fontMetrics().height() / 2, text);
        painter.restore();
        return;
    }
    DrawLevelLines(painter);
    if (m_nPointCount > 0) {
        DrawCurve(painter);
        DrawCursor(painter, texts);
        DrawTimeLabels(painter, texts);
        DrawValueLabels(painter, texts);
    }
    painter.restore();
}

void CGraphRenderer::DrawFrameAndGrid(QPainter& painter) const {
    const CPlotRect& r = m_rcPlot;
    // A 1-pixel outline of QRect(x, y, w, h) covers x .. x + w: the frame covers left .. right - 1.
    painter.drawRect(QRect(r.left, r.top, r.right - r.left - 1, r.bottom - r.top - 1));
    painter.save();
    painter.setPen(QPen(kGridColour, 1, Qt::DotLine, Qt::FlatCap));
    for (int x : GridColumns(r))
        LineTo(painter, x, r.top, x, r.bottom - 1);
    for (int y : GridRows(r))
        LineTo(painter, r.left, y, r.right - 1, y);
    painter.restore();
}

void CGraphRenderer::DrawLevelLines(QPainter& painter) const {
    const CPlotRect& r = m_rcPlot;
    painter.save();
    painter.setPen(SolidPen(kLevelColour, 2));
    int row = 0;
    if (m_bShowLevelLow && LowLevelRow(m_fLevelLowLine, m_fYMin, m_fYMax, r, row))
        LineTo(painter, r.left, row, r.right, row);
    if (m_bShowLevelHigh && HighLevelRow(m_fLevelHighLine, m_fYMin, m_fYMax, r, row))
        LineTo(painter, r.left, row, r.right, row);
    painter.restore();
}

void CGraphRenderer::DrawCurve(QPainter& painter) {
    m_bAbortDraw = false;
    if (m_points.empty())
        return;
    const CPlotRect& r = m_rcPlot;
    size_t first = 0;
    size_t last = m_points.size() - 1;
    if (m_bTimeWindow) {
        if (m_bAutoScaleX) {
            m_fXMax = m_points.back().fTime;
            m_fXMin = m_points.front().fTime;
        }
        first = FindSampleIndex(m_fXMin);
        last = FindSampleIndex(m_fXMax);
    }
    const float firstTime = m_points[first].fTime;
    const float span = m_points[last].fTime - firstTime;

    m_ptCursor = CPlotPoint{0, 0};
    const int startRow = CurveStartRow(m_points[first].fValue, m_fYMin, m_fYMax, r);
    std::optional<CCurveTarget> target = DirectTarget(painter);
    const bool direct = target.has_value();
    QImage fallback;
    if (!direct) {
        // Drawn into a transparent image of the painter's device size, then painted over it.
        fallback = QImage(painter.device()->width(), painter.device()->height(),
                          QImage::Format_ARGB32_Premultiplied);
        fallback.fill(Qt::transparent);
        target = CCurveTarget{&fallback, QPoint(), fallback.rect()};
    }
    CCurvePixels pixels(*target, kCurveColour.rgb());
    CCurveLines lines(pixels, m_bReduceColumns);
    lines.Add(r.left, startRow);
    if (m_bReduceColumns && m_nCursorX < r.left &&
        DrawByColumns(*this, lines, first, last, firstTime, span)) {
        lines.Flush();
        if (!direct)
            painter.drawImage(QPoint(0, 0), fallback);
        return;
    }
    auto it = m_points.cbegin() + static_cast<std::ptrdiff_t>(first);
    for (size_t i = first; i <= last; ++i, ++it) {
        if (m_bAbortDraw)
            break;
        const CGraphData& sample = *it;
        const int x = SampleColumn(sample.fTime, firstTime, span, r);
        const int row = CurveRow(sample.fValue, m_fYMin, m_fYMax, r);
        if (x <= m_nCursorX) {
            m_ptCursor = CPlotPoint{x, row};
            m_fCursorTime = sample.fTime;
            m_fCursorValue = sample.fValue;
        }
        lines.Add(x, row);
    }
    lines.Flush();
    if (!direct)
        painter.drawImage(QPoint(0, 0), fallback);
}

void CGraphRenderer::DrawCursor(QPainter& painter, CTextCache& texts) const {
    if (m_ptCursor.x <= 0)
        return;
    const CPlotRect& r = m_rcPlot;
    painter.save();
    painter.setPen(SolidPen(kLevelColour, 1));
    LineTo(painter, m_ptCursor.x, r.bottom - 1, m_ptCursor.x, r.top);
    std::string value;
    FormatValue(value, m_fCursorValue, 0);
    const QString text = QStringLiteral("Cursor at : %1 Sec, ")
                             .arg(QString::fromStdString(FormatFixed(m_fCursorTime, 1))) +
                         ToQt(value + m_strUnit);
    texts.DrawAt(painter, r.right - texts.Width(painter, text) - 20, 10, text);
    painter.setPen(SolidPen(kLevelColour, 2));
    painter.setBrush(Qt::NoBrush);
    const QPoint cursor(m_ptCursor.x, m_ptCursor.y);
    painter.drawEllipse(cursor, 4, 4);
    painter.drawEllipse(cursor, 2, 2);
    painter.restore();
}

void CGraphRenderer::DrawTimeLabels(QPainter& painter, CTextCache& texts) const {
    float xMin = m_fXMin;
    float xMax = m_fXMax;
    if (m_bAutoScaleX && !m_points.empty()) {
        xMin = m_points.front().fTime;
        xMax = m_points.back().fTime;
    }
    const std::vector<AxisLabel> labels = TimeLabels(xMin, xMax, m_rcPlot, m_timeStart);
    std::vector<QString> strings;
    std::vector<std::pair<int, int>> extents;
    for (const AxisLabel& label : labels) {
        strings.push_back(ToQt(label.text));
        const int width = texts.Width(painter, strings.back());
        const int x = label.position - width / 2;
        extents.emplace_back(x, x + width);
    }
    for (size_t i : LabelsThatFit(extents, 4))
        texts.DrawAt(painter, extents[i].first, m_rcPlot.bottom + 6, strings[i]);
}

void CGraphRenderer::DrawValueLabels(QPainter& painter, CTextCache& texts) const {
    if (m_nFirstRange < 0)
        return;
    const int height = painter.fontMetrics().height();
    for (const AxisLabel& label :
         ValueLabels(m_fYMin, m_fYMax, m_rcPlot, m_nFirstRange, m_strUnit)) {
        const QString text = ToQt(label.text);
        texts.DrawAt(painter, m_rcPlot.left - 3 - texts.Width(painter, text),
                     label.position - height / 2, text);
    }
}

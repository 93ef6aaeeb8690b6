// The toolbar's glyphs, drawn in code at 40 x 40 pixels.

#include "app/ToolbarIcons.h"

#include <QPainter>
#include <QPixmap>

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

} // namespace

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

#include "gui/SingleByteText.h"

#include <QFontMetrics>
#include <QPainter>

QString ToQt(const std::string& singleByte) {
    return QString::fromLatin1(singleByte.data(), static_cast<qsizetype>(singleByte.size()));
}

std::string ToStd(const QString& text) {
    return text.toLatin1().toStdString();
}

void TextAt(QPainter& painter, int x, int y, const QString& text) {
    painter.drawText(QPoint(x, y + painter.fontMetrics().ascent()), text);
}

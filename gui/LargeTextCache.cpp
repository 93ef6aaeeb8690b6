#include "gui/LargeTextCache.h"

#include <QFontMetrics>
#include <QPainter>

std::shared_ptr<CLargeTextCache> CLargeTextCache::Acquire() {
    // Panes live on the UI thread only; the weak pointer never outlives the last of them.
    static std::weak_ptr<CLargeTextCache> current;
    std::shared_ptr<CLargeTextCache> cache = current.lock();
    if (!cache) {
        cache = std::make_shared<CLargeTextCache>();
        current = cache;
    }
    return cache;
}

QString CLargeTextCache::StyleKey(const QFont& font, const QColor& colour) {
    return font.key() + QLatin1Char('|') + QString::number(colour.rgba(), 16) + QLatin1Char('|');
}

const CLargeTextCache::Glyph& CLargeTextCache::Find(const QString& style, const QFont& font,
                                                    const QColor& colour, QChar c) {
    const QString key = style + c;
    const auto found = m_glyphs.constFind(key);
    if (found != m_glyphs.constEnd())
        return *found;
    if (m_glyphs.size() >= kCapacity)
        m_glyphs.clear();
    const QFontMetrics metrics(font);
    Glyph glyph;
    glyph.advance = metrics.horizontalAdvance(c);
    // The inked box, a pixel wider all round for the antialiased edge; a blank has none.
    const QRect ink = metrics.boundingRect(c).adjusted(-1, -1, 1, 1);
    if (ink.width() > 2 && ink.height() > 2) {
        glyph.offset = QPoint(ink.left(), metrics.ascent() + ink.top());
        glyph.image = QImage(ink.size(), QImage::Format_ARGB32_Premultiplied);
        glyph.image.fill(Qt::transparent);
        QPainter painter(&glyph.image);
        painter.setFont(font);
        painter.setPen(colour);
        painter.drawText(QPoint(-ink.left(), -ink.top()), QString(c));
    }
    return *m_glyphs.insert(key, glyph);
}

void CLargeTextCache::DrawAt(QPainter& painter, int x, int y, const QString& text) {
    const QFont font = painter.font();
    const QColor colour = painter.pen().color();
    const QString style = StyleKey(font, colour);
    for (const QChar c : text) {
        const Glyph& glyph = Find(style, font, colour, c);
        if (!glyph.image.isNull())
            painter.drawImage(x + glyph.offset.x(), y + glyph.offset.y(), glyph.image);
        x += glyph.advance;
    }
}

int CLargeTextCache::Width(const QPainter& painter, const QString& text) {
    const QFont font = painter.font();
    const QColor colour = painter.pen().color();
    const QString style = StyleKey(font, colour);
    int width = 0;
    for (const QChar c : text)
        width += Find(style, font, colour, c).advance;
    return width;
}

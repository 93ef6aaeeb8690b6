#include "gui/TextCache.h"

#include <QPainter>

CTextCache::Entry& CTextCache::Find(const QPainter& painter, const QString& text) {
    const QFont& font = painter.font();
    if (m_lastFontKey.isEmpty() || font != m_lastFont) {
        m_lastFont = font;
        m_lastFontKey = font.key();
    }
    const QString key = m_lastFontKey + QChar(0) + text;
    auto found = m_entries.find(key);
    if (found != m_entries.end())
        return *found;
    if (m_entries.size() >= kCapacity)
        m_entries.clear(); // labels drift slowly (a scrolling time axis): start afresh
    Entry entry;
    entry.text = QStaticText(text);
    entry.text.setTextFormat(Qt::PlainText);
    entry.text.setPerformanceHint(QStaticText::AggressiveCaching);
    entry.text.prepare(painter.transform(), font);
    entry.width = painter.fontMetrics().horizontalAdvance(text); // the device's resolution
    return *m_entries.insert(key, entry);
}

void CTextCache::DrawAt(QPainter& painter, int x, int y, const QString& text) {
    painter.drawStaticText(QPoint(x, y), Find(painter, text).text);
}

int CTextCache::Width(const QPainter& painter, const QString& text) {
    return Find(painter, text).width;
}

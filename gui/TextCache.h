#pragma once
// Labels that come back paint after paint (axis labels, names, serials) laid out once. Qt shapes
// a string again at every drawText and at every width asked, and with eight panes repainting
// three times a second that shaping was the largest part of the window's CPU.
//
// One cache per painting widget, used on its thread only. Bounded: when full it starts afresh.

#include <QFont>
#include <QHash>
#include <QStaticText>
#include <QString>

class QPainter;

class CTextCache {
public:
    // As TextAt: the text's top-left corner at (x, y), in the painter's font.
    void DrawAt(QPainter& painter, int x, int y, const QString& text);
    // As QFontMetrics::horizontalAdvance in the painter's font.
    int Width(const QPainter& painter, const QString& text);

    int Size() const { return static_cast<int>(m_entries.size()); }

    static constexpr int kCapacity = 256;

private:
    struct Entry {
        QStaticText text;
        int width = 0;
    };
    Entry& Find(const QPainter& painter, const QString& text);

    QHash<QString, Entry> m_entries; // by font key and text
    QFont m_lastFont;                // the font of the last lookup and its key, asked once
    QString m_lastFontKey;
};

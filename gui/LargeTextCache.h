#pragma once
// Large type (a pane's value, a hundred pixels tall) drawn from images of its characters, each
// rendered once per font and colour. Qt keeps no glyph images above 64 pixels and fills every
// glyph's outline again at each paint: 0.3 ms a paint for a value, which the tuning display's 20
// repaints a second on eight panes turned into most of the window's CPU.
//
// Shared by the panes of the UI thread (panes of one size share their font), used on that thread
// only. Bounded: when full it starts afresh.

#include <QColor>
#include <QFont>
#include <QHash>
#include <QImage>
#include <QString>

#include <memory>

class QPainter;

class CLargeTextCache {
public:
    // The cache of this thread's panes, created when none is alive.
    static std::shared_ptr<CLargeTextCache> Acquire();

    // As TextAt: the text's top-left corner at (x, y), in the painter's font and pen colour.
    void DrawAt(QPainter& painter, int x, int y, const QString& text);
    // The width DrawAt gives the text in the painter's font and pen colour.
    int Width(const QPainter& painter, const QString& text);

    int Size() const { return static_cast<int>(m_glyphs.size()); }
    static constexpr int kCapacity = 512;

private:
    struct Glyph {
        QImage image;  // the character's inked pixels only
        QPoint offset; // of the image from the pen position at the text's top
        int advance = 0;
    };
    // `style` is StyleKey of the font and colour, built once per text.
    static QString StyleKey(const QFont& font, const QColor& colour);
    const Glyph& Find(const QString& style, const QFont& font, const QColor& colour, QChar c);

    QHash<QString, Glyph> m_glyphs; // by font key, colour and character
};

// Pixels of the graph on an off-screen image, as a pane paints it.

#include "render/GraphRenderer.h"
#include "gui/SingleByteText.h"
#include "gui/TextCache.h"

#include <QImage>
#include <QPainter>
#include <QtTest>

#include <cmath>
#include <random>

class GraphRendererTest : public QObject {
    Q_OBJECT

private:
    static constexpr QRgb kWhite = 0xFFFFFFFF;

    static CGraphRenderer Graph() {
        CGraphRenderer graph;
        graph.m_rcPlot = CPlotRect{100, 50, 760, 580};
        graph.m_bAutoScaleY = false;
        graph.m_fYMin = 0.0f;
        graph.m_fYMax = 1.0f;
        return graph;
    }

    static QImage Paint(CGraphRenderer& graph) {
        QImage image(800, 600, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        graph.Draw(painter);
        return image;
    }

    static int Count(const QImage& image, QRgb colour) {
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                n += image.pixel(x, y) == colour;
        return n;
    }

private slots:
    // Long series are drawn with at most four points per pixel column; the picture must be the
    // one every sample gives, pixel for pixel, whatever the series does.
    void aReducedCurveIsTheFullCurvePixelForPixel() {
        std::mt19937 random(5);
        std::normal_distribution<float> noise(0.0f, 1.0f);
        const auto series = [&](int kind, int n) {
            std::vector<float> v(static_cast<size_t>(n));
            for (int i = 0; i < n; ++i) {
                const float t = static_cast<float>(i) / static_cast<float>(n);
                switch (kind) {
                case 0:
                    v[i] = 0.5f + 0.1f * noise(random);
                    break; // noise
                case 1:
                    v[i] = (i / std::max(1, n / 7)) % 2 ? 0.8f : 0.2f;
                    break; // steps
                case 2:
                    v[i] = i % 97 == 0 ? 0.95f : 0.3f + 0.01f * noise(random);
                    break; // spikes
                case 3:
                    v[i] = 0.4f;
                    break; // flat
                case 4:
                    v[i] = 0.5f + 0.45f * std::sin(40 * t);
                    break; // fast sine
                case 5:
                    v[i] = i % 2 ? 1.5f : -0.5f;
                    break; // beyond the range
                case 6:
                    v[i] = i % 31 == 0 ? NAN : 0.5f + 0.2f * noise(random);
                    break; // readings that are not numbers
                default:
                    v[i] = t;
                    break; // ramp
                }
            }
            return v;
        };
        for (int kind = 0; kind <= 7; ++kind) {
            for (int n : {5, 700, 5000, 100000}) {
                for (bool gaps : {false, true}) {
                    const std::vector<float> values = series(kind, n);
                    CGraphRenderer graph = Graph();
                    for (int i = 0; i < n; ++i) {
                        // With gaps: time jumps now and then, leaving columns without a sample.
                        const float t = static_cast<float>(i) + (gaps ? 50.0f * (i / 997) : 0.0f);
                        graph.m_points.push_back({t, values[static_cast<size_t>(i)]});
                    }
                    graph.m_nPointCount = n;
                    if (kind == 7 && gaps) {
                        graph.m_points[static_cast<size_t>(n / 2)].fTime -= 30.0f; // set back
                        std::swap(graph.m_fYMin, graph.m_fYMax); // and an inverted range
                    }
                    const QImage reduced = Paint(graph);
                    graph.m_bReduceColumns = false;
                    const QImage full = Paint(graph);
                    QVERIFY2(
                        reduced == full,
                        qPrintable(
                            QString("kind %1, %2 samples, gaps %3").arg(kind).arg(n).arg(gaps)));
                }
            }
        }
    }

    void frameAndDottedGridWithoutSamples() {
        CGraphRenderer graph = Graph();
        const QImage image = Paint(graph);
        QCOMPARE(image.pixel(100, 300), qRgb(0, 0, 0));
        QCOMPARE(image.pixel(759, 300), qRgb(0, 0, 0));
        QCOMPARE(image.pixel(760, 300), kWhite);
        QCOMPARE(image.pixel(400, 579), qRgb(0, 0, 0));
        // The first grid column is dotted: grid-coloured pixels with gaps between them.
        int grid = 0, gaps = 0;
        for (int y = 60; y < 570; ++y) {
            grid += image.pixel(232, y) == qRgb(60, 60, 60);
            gaps += image.pixel(232, y) == kWhite;
        }
        QVERIFY(grid > 100);
        QVERIFY(gaps > 100);
        QCOMPARE(Count(image, qRgb(0, 0, 255)), 0); // no curve, no labels without samples
    }

    void curveLevelLineAndFlatRange() {
        CGraphRenderer graph = Graph();
        graph.m_points = {{0.0f, 0.25f}, {5.0f, 0.5f}, {10.0f, 0.75f}};
        graph.m_nPointCount = 3;
        graph.m_bShowLevelHigh = true;
        graph.m_fLevelHighLine = 0.5f;
        graph.m_bShowLevelLow = true;
        graph.m_fLevelLowLine = -1.0f; // below the range: not drawn
        QImage image = Paint(graph);
        // Sample 0.25 at t 0 maps to row 446 on the left edge; 0.75 at t 10 to row 181 at the
        // right edge (clamped to right - 1).
        QCOMPARE(image.pixel(100, 446), qRgb(0, 0, 255));
        QCOMPARE(image.pixel(758, 181), qRgb(0, 0, 255));
        QCOMPARE(image.pixel(400, 314), qRgb(255, 0, 0));         // the high level line's row
        QCOMPARE(image.pixel(400, 578), kWhite);                  // no low line
        QVERIFY(Count(image, qRgb(0, 0, 0)) > 2 * 660 + 2 * 530); // frame plus label text

        graph.m_fYMin = graph.m_fYMax = 0.5f; // flat: the curve runs at mid height
        graph.m_points = {{0.0f, 0.5f}, {10.0f, 0.5f}};
        graph.m_nPointCount = 2;
        image = Paint(graph);
        QCOMPARE(image.pixel(400, 315), qRgb(0, 0, 255));
        QCOMPARE(image.pixel(400, 314), kWhite); // level lines have no row on a flat range
    }

    void autoScaleAndReset() {
        CGraphRenderer graph = Graph();
        graph.m_bAutoScaleY = true;
        graph.m_points = {{0.0f, 3.0f}, {1.0f, -2.0f}, {2.0f, 7.0f}};
        graph.AutoScaleY();
        QCOMPARE(graph.m_fYMax, 7.0f);
        QCOMPARE(graph.m_fYMin, -2.0f);
        graph.m_nPointCount = 3;
        graph.ResetData();
        QVERIFY(graph.m_points.empty());
        QCOMPARE(graph.m_nPointCount, 0);
        QVERIFY(std::abs(graph.m_timeStart - std::time(nullptr)) <= 1);
        graph.AutoScaleY();
        QVERIFY(graph.m_fYMax < graph.m_fYMin); // empty: the inverted sentinels
        Paint(graph);                           // and painting it is safe
    }

    // Labels laid out once are the labels drawn each time: the same pixels and widths as text
    // shaped at every paint, in the fonts of the panes; a graph painted again from the cache is
    // the graph painted afresh; the cache stays bounded however many texts go through it.
    void cachedLabelsAreTheLabelsDrawnAfresh() {
        CTextCache texts;
        for (int pixels : {11, 13, 20, 27, 40}) {
            QFont font;
            font.setPixelSize(pixels);
            for (const char* label : {"1.00E-03 W", "12:34:56", "KC1004", "\xb5W 0.5", "Mean"}) {
                const QString text = ToQt(label);
                QImage shaped(300, 80, QImage::Format_RGB32), cached(300, 80, QImage::Format_RGB32);
                shaped.fill(Qt::white);
                cached.fill(Qt::white);
                QPainter a(&shaped), b(&cached);
                a.setFont(font);
                b.setFont(font);
                TextAt(a, 7, 9, text);
                QCOMPARE(texts.Width(b, text), a.fontMetrics().horizontalAdvance(text));
                texts.DrawAt(b, 7, 9, text); // from the cache
                a.end();
                b.end();
                QVERIFY2(shaped == cached, qPrintable(QString("%1 px: %2").arg(pixels).arg(text)));
            }
        }

        CGraphRenderer graph = Graph();
        for (int i = 0; i < 500; ++i)
            graph.m_points.push_back({0.1f * static_cast<float>(i),
                                      0.5f + 0.3f * std::sin(0.05f * static_cast<float>(i))});
        graph.m_nPointCount = static_cast<int>(graph.m_points.size());
        graph.m_nFirstRange = 3;
        graph.m_strUnit = "W";
        const auto paint = [&](CTextCache& cache) {
            QImage image(800, 600, QImage::Format_RGB32);
            image.fill(Qt::white);
            QPainter painter(&image);
            CGraphRenderer copy = graph;
            copy.Draw(painter, cache);
            return image;
        };
        CTextCache fresh;
        const QImage first = paint(texts);
        QVERIFY(texts.Size() > 5); // the axis labels are kept
        QVERIFY(paint(texts) == first);
        QVERIFY(paint(fresh) == first);

        QImage scratch(10, 10, QImage::Format_RGB32);
        QPainter painter(&scratch);
        for (int i = 0; i < 3 * CTextCache::kCapacity; ++i)
            texts.Width(painter, QString::number(i));
        QVERIFY(texts.Size() <= CTextCache::kCapacity);
    }
};

QTEST_MAIN(GraphRendererTest)
#include "GraphRendererTest.moc"

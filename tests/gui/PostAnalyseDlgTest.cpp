// The post-analysis window on files from the acquisition writer: loading, the first channel at
// full range, zoom by box, double click, wheel and Shift+wheel, a channel change, the range
// dialog, the screenshot, and the files that cannot be read.

#include "analysis/PostAnalyseDlg.h"
#include "acquisition/AcquisitionFile.h"
#include "analysis/AnalysisRules.h"
#include "analysis/RangeDlg.h"
#include "gui/MessageBox.h"
#include "support/LocalTime.h"
#include "support/ModalDialogs.h"
#include "support/TempHome.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <fstream>

namespace {

TempHome g_home;

const std::time_t kStart = LocalTime(2011, 3, 4, 12, 30, 0);

// Three channels for an hour, one line a second: a ramp, a square wave and a constant.
std::string WriteFile(const std::string& name, int lines = 3601) {
    const std::string path = g_home.Path() + "/" + name;
    std::ofstream out(path, std::ios::binary);
    out << AcquisitionHeader({"Ramp", "Laser A", "Flat"}, true);
    for (int i = 0; i < lines; ++i)
        out << AcquisitionDataLine(
            kStart + i, {1e-3f * static_cast<float>(i), (i / 600) % 2 ? 2.0f : 1.0f, 0.5f});
    return path;
}

// Opens the window and answers its file dialog with `path`.
void OpenOn(CPostAnalyseDlg& dialog, const std::string& path) {
    OnModal([path](QWidget* modal) {
        auto* chooser = qobject_cast<QFileDialog*>(modal);
        QVERIFY(chooser);
        const QFileInfo file(QString::fromStdString(path));
        chooser->setDirectory(file.absolutePath());
        QTest::keyClicks(chooser->findChild<QLineEdit*>("fileNameEdit"), file.fileName());
        QTest::mouseClick(
            chooser->findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Open),
            Qt::LeftButton);
    });
    dialog.show();
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.m_strFileName.empty() && !dialog.IsLoading(), 20000);
}

void Wheel(QWidget* widget, int delta, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    const QPointF at(300, 300);
    QWheelEvent event(at, widget->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                      modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
}

} // namespace

class PostAnalyseDlgTest : public QObject {
    Q_OBJECT

    QStringList m_messages;

private slots:
    void initTestCase() {
        SetMessageInterceptor([this](const QString& text) { m_messages << text; });
    }
    void init() { m_messages.clear(); }

    void opensOnTheFirstChannelAndZooms() {
        CPostAnalyseDlg dialog;
        OpenOn(dialog, WriteFile("hour.txt"));
        QVERIFY(m_messages.isEmpty());
        QCOMPARE(dialog.m_cbChannel->count(), 3);
        QCOMPARE(dialog.m_cbChannel->itemText(1), QString("Laser A")); // a name with a blank
        CGraphRenderer& graph = dialog.m_graph;
        QCOMPARE(graph.m_nPointCount, 3601);
        QCOMPARE(graph.m_fXMin, 0.0f);
        QCOMPARE(graph.m_fXMax, 3600.0f);
        QCOMPARE(graph.m_fYMin, 0.0f);
        QCOMPARE(graph.m_fYMax, 3.6f);
        QCOMPARE(graph.m_timeStart, kStart);
        QCOMPARE(dialog.m_stats.m_nCount, 3601);
        QCOMPARE(dialog.focusWidget(), dialog.findChild<QWidget*>("buttonScales"));

        // A box from (160, 100) to (400, 400).
        CViewRange expected{graph.m_fXMin, graph.m_fXMax, graph.m_fYMin, graph.m_fYMax};
        QVERIFY(ZoomToBox(160, 100, 400, 400, graph.m_rcPlot, expected));
        QTest::mousePress(&dialog, Qt::LeftButton, {}, QPoint(160, 100));
        QTest::mouseMove(&dialog, QPoint(300, 250));
        QTest::mouseMove(&dialog, QPoint(400, 400));
        QVERIFY(dialog.m_bDragging);
        QTest::mouseRelease(&dialog, Qt::LeftButton, {}, QPoint(400, 400));
        QCOMPARE(graph.m_fXMin, expected.xMin);
        QCOMPARE(graph.m_fXMax, expected.xMax);
        QCOMPARE(graph.m_fYMin, expected.yMin);
        QCOMPARE(graph.m_fYMax, expected.yMax);
        QVERIFY(!graph.m_bAutoScaleX && !graph.m_bAutoScaleY);
        const int visible = dialog.m_stats.m_nCount;
        QVERIFY(visible > 100 && visible < 3601);
        // A click without a move zooms nothing.
        QTest::mouseClick(&dialog, Qt::LeftButton, {}, QPoint(300, 300));
        QCOMPARE(graph.m_fXMin, expected.xMin);

        // The wheel zooms the values (statistics unchanged), Shift+wheel the time.
        Wheel(&dialog, -120);
        QCOMPARE(dialog.m_stats.m_nCount, visible);
        QVERIFY(graph.m_fYMax > expected.yMax && graph.m_fYMin < expected.yMin);
        Wheel(&dialog, 120, Qt::ShiftModifier);
        QVERIFY(dialog.m_stats.m_nCount < visible);

        // A double click shows everything again.
        QTest::mouseDClick(&dialog, Qt::LeftButton, {}, QPoint(300, 300));
        QCOMPARE(graph.m_fXMin, 0.0f);
        QCOMPARE(graph.m_fXMax, 3600.0f);
        QCOMPARE(graph.m_fYMax, 3.6f);
        QCOMPARE(dialog.m_stats.m_nCount, 3601);
        // Shift+wheel out at full view stays there.
        Wheel(&dialog, -120, Qt::ShiftModifier);
        QCOMPARE(graph.m_fXMin, 0.0f);
        QCOMPARE(graph.m_fXMax, 3600.0f);

        // Another channel from the list; the focus goes back to "Scales".
        dialog.m_cbChannel->setFocus();
        QTest::keyClick(dialog.m_cbChannel, Qt::Key_Down);
        QCOMPARE(dialog.m_cbChannel->currentIndex(), 1);
        QCOMPARE(graph.m_fYMin, 1.0f);
        QCOMPARE(graph.m_fYMax, 2.0f);
        QCOMPARE(dialog.focusWidget(), dialog.findChild<QWidget*>("buttonScales"));
        // The wheel over the list zooms the graph; the channel stays.
        Wheel(dialog.m_cbChannel, -120);
        QCOMPARE(dialog.m_cbChannel->currentIndex(), 1);
        QVERIFY(graph.m_fYMax > 2.0f);

        // The panel: black text at its place, whatever is zoomed.
        const QImage picture = dialog.Render();
        int dark = 0;
        for (int y = 87; y < 87 + 6 * 20; ++y)
            for (int x = 655; x < 845; ++x)
                dark += qGray(picture.pixel(x, y)) < 100;
        QVERIFY(dark > 200);
    }

    void typedRangesAndTheirMessages() {
        CPostAnalyseDlg dialog;
        OpenOn(dialog, WriteFile("ranges.txt"));
        const auto scales = [&](std::function<void(QWidget*)> answer) {
            OnModal(answer);
            QTest::mouseClick(dialog.findChild<QPushButton*>("buttonScales"), Qt::LeftButton);
        };
        QString shownMin, shownMax;
        scales([&](QWidget* range) {
            shownMin = range->findChild<QLineEdit*>("editTimeMin")->text();
            shownMax = range->findChild<QLineEdit*>("editTimeMax")->text();
            auto* min = range->findChild<QLineEdit*>("editTimeMin");
            min->clear();
            QTest::keyClicks(min, "2011-3-4:12:31:0");
            auto* power = range->findChild<QLineEdit*>("editPowerMax");
            power->clear();
            QTest::keyClicks(power, "5");
            QTest::mouseClick(range->findChild<QPushButton*>("buttonOk"), Qt::LeftButton);
        });
        QCOMPARE(shownMin, QString("2011-03-04:12:30:00"));
        QCOMPARE(shownMax, QString("2011-03-04:13:30:00"));
        QVERIFY(m_messages.isEmpty());
        QCOMPARE(dialog.m_graph.m_fXMin, 60.0f);
        QCOMPARE(dialog.m_graph.m_fXMax, 3600.0f);
        QCOMPARE(dialog.m_graph.m_fYMax, 5.0f);
        QCOMPARE(dialog.m_stats.m_nCount, 3541);

        // A minimum before the start and a maximum before the minimum: both said, the dialog
        // closes with the previous bounds.
        scales([&](QWidget* range) {
            auto* min = range->findChild<QLineEdit*>("editTimeMin");
            min->clear();
            QTest::keyClicks(min, "2011-03-04:12:29:59");
            auto* max = range->findChild<QLineEdit*>("editTimeMax");
            max->clear();
            QTest::keyClicks(max, "2011-03-04:12:30:30");
            QTest::mouseClick(range->findChild<QPushButton*>("buttonOk"), Qt::LeftButton);
        });
        QCOMPARE(m_messages, (QStringList{"Minimum Time not valid", "Invalid Maximum Time Value"}));
        QCOMPARE(dialog.m_graph.m_fXMin, 60.0f);
        QCOMPARE(dialog.m_graph.m_fXMax, 3600.0f);

        // A later maximum widens the range; Cancel changes nothing.
        m_messages.clear();
        scales([&](QWidget* range) {
            auto* max = range->findChild<QLineEdit*>("editTimeMax");
            max->clear();
            QTest::keyClicks(max, "2011-3-4:14:0:0");
            QTest::mouseClick(range->findChild<QPushButton*>("buttonOk"), Qt::LeftButton);
        });
        QCOMPARE(dialog.m_graph.m_fXMax, 5400.0f);
        scales([](QWidget* range) {
            range->findChild<QLineEdit*>("editTimeMin")->setText("garbage");
            QTest::mouseClick(range->findChild<QPushButton*>("buttonCancel"), Qt::LeftButton);
        });
        QVERIFY(m_messages.isEmpty());
        QCOMPARE(dialog.m_graph.m_fXMin, 60.0f);

        // Unreadable times; then a power that is not a number: said, and the previous numbers
        // come back when the (previous, valid) times are taken.
        scales([&](QWidget* range) {
            range->findChild<QLineEdit*>("editTimeMin")->setText("noon");
            range->findChild<QLineEdit*>("editTimeMax")->setText("later");
            QTest::mouseClick(range->findChild<QPushButton*>("buttonOk"), Qt::LeftButton);
        });
        QCOMPARE(m_messages,
                 (QStringList{"Minimum Time value should be enter like: yyyy-mm-dd:hh:mm:ss",
                              "Maximum Time value should be enter like: yyyy-mm-dd:hh:mm:ss"}));
        m_messages.clear();
        const float powerMin = dialog.m_graph.m_fYMin;
        scales([&](QWidget* range) {
            range->findChild<QLineEdit*>("editPowerMin")->setText("low");
            QTest::mouseClick(range->findChild<QPushButton*>("buttonOk"), Qt::LeftButton);
        });
        QCOMPARE(m_messages, QStringList{"Please enter a number."});
        QCOMPARE(dialog.m_graph.m_fYMin, powerMin);

        // Bounds pass through six significant digits: 1,234,567 s comes back as 1,234,570 s.
        CRangeDlg range;
        range.m_fTimeMin = 0;
        range.m_fTimeMax = 1234567.0f;
        range.SetStartTime(kStart);
        OnModal([](QWidget* shown) {
            QTest::mouseClick(shown->findChild<QPushButton*>("buttonOk"), Qt::LeftButton);
        });
        QCOMPARE(range.exec(), int(QDialog::Accepted));
        QCOMPARE(range.m_fTimeMax, 1234570.0f);
    }

    void screenshotHasItsOwnNameAndTheWindowsPicture() {
        CPostAnalyseDlg dialog;
        dialog.m_strScreenshotBase = g_home.Path() + "/post";
        OpenOn(dialog, WriteFile("shot.txt", 100));
        const std::time_t when = LocalTime(2011, 3, 25, 14, 5, 9);
        dialog.SaveScreenshotAt(when);
        const QString path = QString::fromStdString(g_home.Path() + "/post20110325_140509.bmp");
        QCOMPARE(m_messages, QStringList{path});
        const QImage saved(path, "BMP");
        QCOMPARE(saved.size(), QSize(CPostAnalyseDlg::kWidth, CPostAnalyseDlg::kHeight));
        QCOMPARE(saved.pixel(0, 0), qRgb(0, 0, 0));
        QCOMPARE(saved.pixel(CPostAnalyseDlg::kWidth - 1, 300), qRgb(0, 0, 0));
        QCOMPARE(saved.pixel(400 + 3, 300 + 2), dialog.grab().toImage().pixel(400, 300));
    }

    void filesThatCannotBeReadAndClosingDuringALoad() {
        // A bad date stops the load: both messages, and what was read is shown.
        const std::string bad = g_home.Path() + "/bad.txt";
        std::ofstream(bad, std::ios::binary)
            << AcquisitionHeader({"A", "B"}, true) << AcquisitionDataLine(kStart, {1.0f, 2.0f})
            << "31/02/2011-99:00:00\t3\t4\t\r\n";
        {
            CPostAnalyseDlg dialog;
            OpenOn(dialog, bad);
            QCOMPARE(m_messages, (QStringList{"Bad Date Format", "31/02/2011-99:00:00"}));
            QCOMPARE(dialog.m_cbChannel->count(), 2);
            QCOMPARE(dialog.m_graph.m_nPointCount, 1);
            // One sample: a double click keeps a range with width, nothing inverted or NaN.
            QTest::mouseDClick(&dialog, Qt::LeftButton, {}, QPoint(300, 300));
            QVERIFY(std::isfinite(dialog.m_graph.m_fYMin) && std::isfinite(dialog.m_graph.m_fYMax));
        }
        m_messages.clear();
        {
            CPostAnalyseDlg dialog;
            dialog.LoadAcquisitionFile(g_home.Path() + "/none.txt");
            QTRY_VERIFY(!dialog.IsLoading());
            QTRY_COMPARE(m_messages.size(), 1);
            QCOMPARE(m_messages[0], QString::fromStdString("Unable to open " + g_home.Path() +
                                                           "/none.txt: No such file or directory"));
            QCOMPARE(dialog.m_cbChannel->count(), 0);
            Wheel(&dialog, -120, Qt::ShiftModifier); // nothing loaded: no time zoom
            QCOMPARE(dialog.m_graph.m_fXMax, 10.0f);
        }
        m_messages.clear();
        {
            // Closed while it loads: the load stops and nothing arrives afterwards.
            const std::string big = WriteFile("big.txt", 400000);
            CPostAnalyseDlg dialog;
            dialog.LoadAcquisitionFile(big);
            QVERIFY(dialog.IsLoading());
            dialog.reject();
            QVERIFY(!dialog.IsLoading());
            QCoreApplication::processEvents();
            QCOMPARE(dialog.m_cbChannel->count(), 0);
            QVERIFY(m_messages.isEmpty());
        }
    }
};

QTEST_MAIN(PostAnalyseDlgTest)
#include "PostAnalyseDlgTest.moc"

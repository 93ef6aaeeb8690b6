// A pane as the user meets it, on the offscreen platform: what it paints for each state of its
// channel, its menu and double-clicks, and the commands it turns into requests. What the channel
// does with the meter is tested in the channel core's own tests.

#include "channel/KelvarinView.h"
#include "detectors/ChannelConfigFile.h"
#include "gui/MessageBox.h"
#include "render/GraphGeometry.h"
#include "res/CommandIds.h"
#include "sim/MeterSimulator.h"
#include "support/DialogInput.h"
#include "support/ModalDialogs.h"
#include "support/SteadyMeter.h"
#include "support/TempHome.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QtTest>

#include <algorithm>
#include <cmath>

namespace {

TempHome g_home; // before any settings are read

MeterProfile Steady(const std::string& serial, double rate = 40) {
    return SteadyProfile("KLV-VIEW", serial, rate);
}

CChannelConfig Record(const std::string& port, const std::string& serial) {
    CChannelConfig config;
    config.m_strPort = port;
    config.m_strSerial = serial;
    config.m_strName = "KLV-VIEW";
    config.m_fLevelHigh = 1.0f; // the readings stay inside: no alarm
    return config;
}

const QRgb kBlack = qRgb(0, 0, 0), kRed = qRgb(255, 0, 0), kGrey = qRgb(150, 150, 150);

int CountColour(const QImage& image, const QRect& area, QRgb colour) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += image.pixel(x, y) == colour;
    return n;
}

} // namespace

class KelvarinViewTest : public QObject {
    Q_OBJECT

private:
    QStringList m_messages;

private slots:
    void initTestCase() {
        SetMessageInterceptor([this](const QString& text) { m_messages << text; });
    }

    // A meter unplugged and plugged in again, reached through a stable link: the pane says its
    // meter has not answered yet while it connects, goes grey with the time it was lost in each
    // display, then shows the live value again.
    void connectingAndLostPanesSaySoInTheirFoot() {
        const std::string link = g_home.Path() + "/by-id-meter";
        CMeterSimulator meter(Steady("KV7005", 100));
        meter.SetLinkPath(link);
        std::string error;
        QVERIFY(meter.Start(error));

        CChannel channel;
        CKelvarinView view(channel);
        view.resize(400, 300);
        view.show();
        channel.RequestConnect(Record(link, "KV7005"), false);
        QVERIFY(view.IsBound());
        QVERIFY(!view.IsConnected());
        QImage image = view.Render();
        QCOMPARE(view.State().foot, QString("Waiting for the meter"));
        QVERIFY(CountColour(image, QRect(0, 260, 400, 40), kRed) > 20);
        QVERIFY(CountColour(image, QRect(0, 60, 400, 200), kGrey) > 500);
        QCOMPARE(CountColour(image, QRect(0, 60, 400, 200), kBlack), 0); // no reading
        QTRY_VERIFY_WITH_TIMEOUT(channel.ReadingCount() > 5, 30000);
        QCOMPARE(CountColour(view.Render(), QRect(0, 0, 400, 300), kRed), 0);

        // Out until it is checked: the pane greys its value in every display and keeps its menu.
        meter.Replug(600000);
        QTRY_VERIFY_WITH_TIMEOUT(view.IsLost(), 30000);
        QRect valueArea;
        for (int mode :
             {Command::RealTimeDisplay, Command::StatisticsDisplay, Command::GraphicDisplay}) {
            view.OnCommand(mode);
            image = view.Render();
            // The value in grey, nowhere in black (the graph display's is a line of small type).
            const bool graph = mode == Command::GraphicDisplay;
            valueArea = graph ? QRect(100, 8, 200, 18) : QRect(0, 60, 400, 200);
            QVERIFY(CountColour(image, valueArea, kGrey) > (graph ? 10 : 500));
            QCOMPARE(CountColour(image, valueArea, kBlack), 0);
            QVERIFY(CountColour(image, QRect(0, 0, 400, 300), kRed) > 20); // the time
        }
        QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, QPoint(10, 10),
                                    view.mapToGlobal(QPoint(10, 10)));
        QApplication::sendEvent(&view, &menuEvent);
        QTRY_VERIFY(QApplication::activePopupWidget());
        QApplication::activePopupWidget()->close();

        QVERIFY(view.State().foot.startsWith("Meter lost at "));
        meter.PlugIn();

        // Back through the link: waiting for its first reading, then live again, in black.
        QTRY_VERIFY_WITH_TIMEOUT(view.IsConnected(), 30000);
        const uint64_t count = channel.ReadingCount();
        QTRY_VERIFY_WITH_TIMEOUT(channel.ReadingCount() > count + 5, 30000);
        QCOMPARE(view.State().foot, QString());
        QVERIFY(view.State().live);
        QVERIFY(CountColour(view.Render(), valueArea, kBlack) > 10);

        // Silent with its port open: its last value in grey, with the time of that reading,
        // and black again at its next reading.
        meter.SetFault(MeterFault::Silence);
        QTRY_VERIFY_WITH_TIMEOUT(!view.State().live, 15000);
        const std::time_t last = static_cast<std::time_t>(channel.LastReadingTime());
        QCOMPARE(view.State().foot,
                 QString::fromStdString("No reading since " + FormatTimeLabel(last, 0)));
        QVERIFY(CountColour(view.Render(), valueArea, kGrey) > 10);
        QCOMPARE(CountColour(view.Render(), valueArea, kBlack), 0);
        meter.SetFault(MeterFault::None);
        QTRY_VERIFY_WITH_TIMEOUT(view.State().live, 30000);
        QVERIFY(CountColour(view.Render(), valueArea, kBlack) > 10);
    }

    // A pane's commands to its meter: Identify binds the port chosen (name and serial as read),
    // Channel Configuration asks nothing on Cancel and on OK sends the wavelength, then the
    // anticipation; a double click outside the plot sets the scales; Close Port stops the meter.
    void identifyConfigureAndClose() {
        CMeterSimulator meter(Steady("KV7003"));
        std::string error;
        QVERIFY(meter.Start(error));
        qputenv("KELVARIN_PORTS", QByteArray::fromStdString(meter.PortPath()));
        qputenv("KELVARIN_PORTS_ONLY", "1");
        CChannel channel;
        CKelvarinView view(channel);
        OnModal([](QWidget* dialog) { Click(dialog, "buttonOk"); });
        view.OnCommand(Command::IdentifyMeter);
        QVERIFY(view.IsBound());
        QTRY_VERIFY(view.IsConnected());
        QCOMPARE(channel.Config().m_strName, std::string("KLV-VIEW\r\n"));
        QVERIFY2(channel.Config().m_strSerial == "KV7003\r\n",
                 ("serial \"" + channel.Config().m_strSerial +
                  "\"; the meter received:" + TimedReceivedText(meter))
                     .c_str());
        QTRY_VERIFY(meter.IsStreaming());
        QTRY_VERIFY(channel.Value() > 0.0f);
        QVERIFY(ReceivedText(meter).find("*NAM*SNN*CAU") != std::string::npos);

        CChannelConfig config = channel.Config();
        config.m_nPosition = 3; // as the window gives them; the dialog needs a title
        config.m_strTitle = "Head";
        channel.SetConfig(config);
        meter.ClearLogs();
        QSignalSpy configured(&view, &CKelvarinView::channelConfigured);
        OnModal([](QWidget* dialog) { Click(dialog, "buttonCancel"); });
        view.OnCommand(Command::ChannelConfiguration);
        // Nothing asked of the channel: the bytes after the next OK are that OK's alone.
        QCOMPARE(configured.count(), 0);

        OnModal([](QWidget* dialog) {
            auto set = [dialog](const char* name, const char* text) {
                dialog->findChild<QLineEdit*>(QLatin1String(name))->setText(text);
            };
            set("editWavelength", "532");
            set("editLevelHigh", "2e-3");
            set("editLevelLow", "1e-3");
            QTest::mouseClick(dialog->findChild<QWidget*>(QStringLiteral("checkAnticipation")),
                              Qt::LeftButton, {}, QPoint(6, 6));
            Click(dialog, "buttonOk");
        });
        view.OnCommand(Command::ChannelConfiguration);
        QCOMPARE(configured.count(), 1);
        QCOMPARE(configured.at(0).at(0).toInt(), 3);
        const CGraphRenderer graph = channel.GraphSnapshot();
        QCOMPARE(graph.m_fLevelHighLine, 2e-3f);
        QCOMPARE(graph.m_fLevelLowLine, 1e-3f);
        QCOMPARE(channel.Config().m_nWavelength, 532);
        QTRY_COMPARE(ReceivedText(meter), std::string("*PWC  532*ANF"));

        // Graphic display: a double click in the plot does nothing, outside it sets the scales.
        view.resize(800, 600);
        view.show();
        view.OnCommand(Command::GraphicDisplay);
        QTest::mouseDClick(&view, Qt::LeftButton, {}, QPoint(400, 300));
        QVERIFY(!QApplication::activeModalWidget());
        OnModal([](QWidget* dialog) {
            QTest::mouseClick(dialog->findChild<QWidget*>(QStringLiteral("checkAutoY")),
                              Qt::LeftButton, {}, QPoint(6, 6));
            dialog->findChild<QLineEdit*>(QStringLiteral("editMinY"))->setText("-1");
            dialog->findChild<QLineEdit*>(QStringLiteral("editMaxY"))->setText("3");
            Click(dialog, "buttonOk");
        });
        QTest::mouseDClick(&view, Qt::LeftButton, {}, QPoint(20, 300));
        const CGraphRenderer scaled = channel.GraphSnapshot();
        QVERIFY(!scaled.m_bAutoScaleY);
        QCOMPARE(scaled.m_fYMin, -1.0f);
        QCOMPARE(scaled.m_fYMax, 3.0f);

        view.OnCommand(Command::ClosePort);
        QTRY_VERIFY(!view.IsBound());
        QTRY_VERIFY(!meter.IsStreaming());
        QCOMPARE(ReceivedText(meter).substr(ReceivedText(meter).size() - 4), std::string("*CSU"));
        qunsetenv("KELVARIN_PORTS");
        qunsetenv("KELVARIN_PORTS_ONLY");
    }

    void aPaneInAWindowShowsThePixelsOfItsImage() {
        // The window paints the pane straight into its own buffer, where the pane sits at an
        // offset and may be repainted in part: the curve must land where the pane is and only
        // inside what is repainted.
        CChannel channel;
        CChannelConfig config = Record("", "S-WIN");
        config.m_strTitle = "Window";
        channel.SetConfig(config);
        QWidget window;
        window.resize(700, 500);
        auto* view = new CKelvarinView(channel, &window);
        const QRect place(60, 40, 500, 400);
        view->setGeometry(place);
        view->OnCommand(Command::GraphicDisplay);
        for (int i = 0; i < 300; ++i)
            channel.OnNewValue(1e-3f * (1.0f + 0.5f * std::sin(0.05f * static_cast<float>(i))));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const auto shown = [&window, &place] {
            return window.screen()
                ->grabWindow(window.winId())
                .toImage()
                .copy(place)
                .convertToFormat(QImage::Format_RGB32);
        };
        view->repaint();
        const QImage before = view->Render();
        QCOMPARE(shown(), before);
        QVERIFY(CountColour(before, before.rect(), qRgb(0, 0, 255)) > 300);

        // New readings, the left half repainted: left as the pane is now, right as it was.
        for (int i = 0; i < 300; ++i)
            channel.OnNewValue(4e-3f * (1.0f + 0.5f * std::cos(0.03f * static_cast<float>(i))));
        const QRect left(0, 0, 250, 400);
        view->repaint(left);
        const QImage after = view->Render();
        QVERIFY(after.copy(left) != before.copy(left));
        QCOMPARE(shown().copy(left), after.copy(left));
        const QRect right(250, 0, 250, 400);
        QCOMPARE(shown().copy(right), before.copy(right));
    }

    // A pane with no meter: its fonts for its size, its value in black and its record at the
    // top, the value in red once the alarm latches; no menu nor dialog of its own, while the
    // menu a window asks of it runs its commands; a close asked of it is told.
    void paintingMenuAndCloseOfAPaneWithNoMeter() {
        CChannel channel;
        CChannelConfig config;
        config.m_strTitle = "Title";
        config.m_strName = "Name";
        config.m_strSerial = "Serial";
        config.m_fLevelHigh = 1.0f;
        config.m_nPosition = 6;
        channel.SetConfig(config);
        CKelvarinView view(channel);
        view.resize(800, 600);
        view.show();
        QCOMPARE(view.ValueFont().height, 120);
        QCOMPARE(view.ValueFont().width, 32);
        QCOMPARE(view.StatsFont().height, 54);
        QCOMPARE(view.StatsFont().width, 24);

        const QRect middle(0, 200, 800, 200);
        const QRect top(0, 0, 800, 60);
        QImage image = view.Render();
        QVERIFY(CountColour(image, middle, kBlack) > 500); // 0.000 pW
        QCOMPARE(CountColour(image, image.rect(), kRed), 0);
        QVERIFY(CountColour(image, top, kBlack) > 50); // title, name, serial

        channel.OnNewValue(2.0f); // above the high level: latched
        image = view.Render();
        QVERIFY(CountColour(image, middle, kRed) > 500);
        QCOMPARE(CountColour(image, top, kRed), 0);
        QVERIFY(CountColour(image, top, kBlack) > 50);
        view.OnCommand(Command::StatisticsDisplay);
        image = view.Render();
        QVERIFY(CountColour(image, QRect(0, 60, 800, 540), kRed) > 2000);
        QCOMPARE(CountColour(image, QRect(0, 60, 800, 540), kBlack), 0);

        // Closed port: no menu, no dialog on a double click.
        QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, QPoint(10, 10),
                                    view.mapToGlobal(QPoint(10, 10)));
        QApplication::sendEvent(&view, &menuEvent);
        QVERIFY(!QApplication::activePopupWidget());
        QTest::mouseDClick(&view, Qt::LeftButton, {}, QPoint(400, 300));
        QVERIFY(!QApplication::activeModalWidget());

        QSignalSpy full(&view, &CKelvarinView::showPositionFull);
        std::unique_ptr<QMenu> menu(view.CreateContextMenu(nullptr));
        QStringList texts;
        for (QAction* action : menu->actions())
            texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
        QCOMPARE(texts,
                 (QStringList{"Full Screen", "-", "Real Time Display", "Graphic Display",
                              "Statistics Display", "Tuning Display", "-", "Channel Configuration",
                              "-", "Reset Graphic", "Reset Statistics", "Reset Alarms",
                              "Reset Peak", "-", "Zero", "Clear Zero", "Units", "Reference"}));
        menu->actions().at(0)->trigger();
        QCOMPARE(full.count(), 1);
        QCOMPARE(full.at(0).at(0).toInt(), 6); // the index, not the number shown
        menu->actions().at(3)->trigger();
        QCOMPARE(view.m_nDisplayMode, int(CKelvarinView::Graphic));
        // The graph display paints every pixel of the pane, at its usual size and at one too
        // small for its plot: the window does not clear a pane before painting it.
        for (int i = 0; i < 50; ++i)
            channel.OnNewValue(0.01f * static_cast<float>(i % 7));
        for (const QSize size : {QSize(800, 600), QSize(130, 60)}) {
            view.resize(size);
            QImage image(size, QImage::Format_RGB32);
            image.fill(Qt::magenta);
            view.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
            QCOMPARE(CountColour(image, image.rect(), qRgb(255, 0, 255)), 0);
        }
        view.resize(800, 600);
        QVERIFY(channel.Alarm());
        menu->actions().at(11)->trigger();
        QVERIFY(!channel.Alarm());

        m_messages.clear();
        view.close();
        QCOMPARE(m_messages, QStringList{"Closing!"});
        m_messages.clear();
        view.DestroyWindow();
        QCOMPARE(m_messages, QStringList{"DestroyWindow!"}); // "Closing Port!" only when open
    }
};

QTEST_MAIN(KelvarinViewTest)
#include "KelvarinViewTest.moc"

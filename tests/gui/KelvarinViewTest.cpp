// A pane against a simulated meter on a pseudo-terminal, on the offscreen platform.

#include "channel/KelvarinView.h"
#include "detectors/ChannelConfigFile.h"
#include "gui/MessageBox.h"
#include "link/NumberText.h"
#include "res/CommandIds.h"
#include "sim/MeterSimulator.h"
#include "support/ModalDialogs.h"
#include "support/TempHome.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QtTest>

#include <algorithm>
#include <thread>

#include <unistd.h>

namespace {

TempHome g_home; // before any settings are read

MeterProfile Steady(const std::string& serial, double rate = 40) {
    MeterProfile profile;
    profile.name = "KLV-VIEW";
    profile.serialReply = "S/N " + serial;
    profile.nominalWatts = 1.5e-3;
    profile.readingsPerSecond = rate;
    profile.noise = 0;
    profile.drift = false;
    return profile;
}

std::string Received(const CMeterSimulator& meter) {
    std::string text;
    for (const ReceivedByte& b : meter.ReceivedBytes())
        text += b.byte;
    return text;
}

void Click(QWidget* dialog, const char* name) {
    QTest::mouseClick(dialog->findChild<QPushButton*>(QLatin1String(name)), Qt::LeftButton);
}

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

    void readingsAreCalibratedByTheStoredSettings() {
        CMeterSimulator meter(Steady("KV7001"));
        std::string error;
        QVERIFY(meter.Start(error));
        meter.SetFault(MeterFault::NonNumberLines);
        CChannelConfig stored;
        stored.m_fGain = 2.0f;
        stored.m_fOffset = 0.5f;
        stored.m_fLevelHigh = 1.0f;
        stored.m_nWavelength = 1064;
        QVERIFY(SaveChannelConfigFile("KV7001", stored, error));

        CKelvarinView view;
        view.m_config.m_strSerial = "KV7001";
        view.OpenPort(meter.PortPath());
        QVERIFY(view.IsConnected());
        QCOMPARE(view.LoadChannelConfig(error), ConfigLoad::Loaded);
        view.ApplyWavelengthAndStart();
        view.EnableStatistics();
        QTRY_VERIFY_WITH_TIMEOUT(view.StatisticsSnapshot().m_nCount >= 5, 5000);

        const float expected = 2.0f * 1.5e-3f + 0.5f;
        QCOMPARE(view.m_fValue.load(), expected);
        const CGraphRenderer graph = view.GraphSnapshot();
        QVERIFY(graph.m_nPointCount >= 5);
        for (const CGraphData& sample : graph.m_points)
            QCOMPARE(sample.fValue, expected); // the garbage lines left no trace
        QVERIFY(graph.m_bShowLevelHigh);
        QCOMPARE(graph.m_fLevelHighLine, 1.0f);
        QCOMPARE(graph.m_fYMax, expected);
        QVERIFY(!view.m_bAlarm.load());

        // Unplugged for good: the pane says so at once and keeps its last value and its graph.
        meter.SetFault(MeterFault::HangUp);
        QTRY_VERIFY_WITH_TIMEOUT(view.IsLost(), 1000);
        QVERIFY(!view.IsConnected());
        QVERIFY(view.IsBound());
        QCOMPARE(view.m_fValue.load(), expected);
        QCOMPARE(view.GraphSnapshot().m_nPointCount, graph.m_nPointCount);
        view.resize(400, 300);
        QVERIFY(!view.Render().isNull());
    }

    // A meter unplugged and plugged in again, reached through a stable link: the pane goes grey
    // with the time it was lost, then takes the meter back with its settings, in each display.
    void anUnpluggedMeterIsShownLostAndComesBackThroughItsLink() {
        const std::string link = g_home.Path() + "/by-id-meter";
        CMeterSimulator meter(Steady("KV7005", 100));
        meter.SetLinkPath(link);
        std::string error;
        QVERIFY(meter.Start(error));

        CKelvarinView view;
        view.resize(400, 300);
        view.show();
        CChannelConfig config;
        config.m_strSerial = "KV7005";
        config.m_strName = "KLV-VIEW";
        config.m_nWavelength = 1550;
        config.m_bAnticipation = false;
        config.m_fLevelHigh = 1.0f;
        config.m_fLevelLow = 0.0f;
        view.SetConfig(config);
        view.OpenPort(link);
        view.ApplyWavelengthAndStart();
        QTRY_VERIFY_WITH_TIMEOUT(view.m_nReadingCount.load() > 5, 5000);

        const QRgb grey = qRgb(150, 150, 150);
        for (int mode :
             {Command::RealTimeDisplay, Command::StatisticsDisplay, Command::GraphicDisplay}) {
            view.OnCommand(mode);
            const std::string portBefore = meter.PortPath();
            const int replugs = meter.ReplugCount();

            meter.Replug(1000);
            // Noticed within a pass or two of the 50 ms polling.
            QTRY_VERIFY_WITH_TIMEOUT(view.IsLost(), 1000);
            const float held = view.m_fValue.load();
            const uint64_t count = view.m_nReadingCount.load();
            QImage image = view.Render();
            // The value in grey, nowhere in black (the graph display's is a line of small type).
            const bool graph = mode == Command::GraphicDisplay;
            const QRect valueArea = graph ? QRect(100, 8, 200, 18) : QRect(0, 60, 400, 200);
            QVERIFY(CountColour(image, valueArea, grey) > (graph ? 10 : 500));
            QCOMPARE(CountColour(image, valueArea, qRgb(0, 0, 0)), 0);
            QVERIFY(CountColour(image, QRect(0, 0, 400, 300), qRgb(255, 0, 0)) > 20); // the time
            QTest::qWait(300);
            QCOMPARE(view.m_fValue.load(), held);
            QCOMPARE(view.m_nReadingCount.load(), count);

            // Back on another pseudo-terminal, through the same link.
            QTRY_VERIFY_WITH_TIMEOUT(view.IsConnected(), 8000);
            QCOMPARE(meter.ReplugCount(), replugs + 1);
            QVERIFY(meter.PortPath() != portBefore);
            QCOMPARE(meter.Wavelength(), 1550);
            QVERIFY(!meter.Anticipation());
            QTRY_VERIFY_WITH_TIMEOUT(view.m_nReadingCount.load() > count + 5, 5000);
            image = view.Render();
            QVERIFY(CountColour(image, valueArea, qRgb(0, 0, 0)) > 10);
            QCOMPARE(view.m_config.m_strSerial, std::string("KV7005"));
        }
    }

    // Another meter on the lost meter's path is not taken over: it is asked who it is and left
    // stopped, and the pane stays lost.
    void anotherSerialOnTheSamePathStaysLost() {
        const std::string link = g_home.Path() + "/swapped-meter";
        CMeterSimulator first(Steady("KV7006"));
        CMeterSimulator second(Steady("KV7007"));
        std::string error;
        QVERIFY(first.Start(error));
        QVERIFY(second.Start(error));
        QVERIFY(symlink(first.PortPath().c_str(), link.c_str()) == 0);

        CKelvarinView view;
        CChannelConfig config;
        config.m_strSerial = "KV7006";
        view.SetConfig(config);
        view.OpenPort(link);
        view.ApplyWavelengthAndStart();
        QTRY_VERIFY_WITH_TIMEOUT(view.m_nReadingCount.load() > 2, 5000);

        const std::string swapped = link + ".new";
        QVERIFY(symlink(second.PortPath().c_str(), swapped.c_str()) == 0);
        QVERIFY(rename(swapped.c_str(), link.c_str()) == 0);
        first.SetFault(MeterFault::HangUp);
        QTRY_VERIFY_WITH_TIMEOUT(view.IsLost(), 1000);
        // Asked at least twice (a try every two seconds), never started.
        const auto asked = [&second] {
            const std::vector<MeterCommand> commands = second.ReceivedCommands();
            return std::count_if(commands.begin(), commands.end(), [](const MeterCommand& c) {
                return c.kind == MeterCommand::AskSerial;
            });
        };
        QTRY_VERIFY_WITH_TIMEOUT(asked() >= 2, 8000);
        QVERIFY(view.IsLost());
        QVERIFY(!second.IsStreaming());
        for (const MeterCommand& command : second.ReceivedCommands())
            QVERIFY(command.kind != MeterCommand::StartStream);
        // Close Port ends the tries.
        view.ClosePort();
        QVERIFY(!view.IsBound());
        unlink(link.c_str());
    }

    void alarmLatchesBeyondTheLevelsOnly() {
        CKelvarinView view;
        CChannelConfig config;
        config.m_fLevelHigh = 1.0f;
        config.m_fLevelLow = 0.0f;
        view.SetConfig(config);
        view.OnNewValue(1.0f);
        view.OnNewValue(0.0f);
        view.OnNewValue(NAN);
        QVERIFY(!view.m_bAlarm.load());
        view.OnNewValue(1.0001f);
        QVERIFY(view.m_bAlarm.load());
        view.OnNewValue(0.5f);
        QVERIFY(view.m_bAlarm.load()); // latched
        view.OnCommand(Command::ResetAlarms);
        QVERIFY(!view.m_bAlarm.load());
        view.OnNewValue(-1e-9f);
        QVERIFY(view.m_bAlarm.load());
    }

    void acquisitionTakesTheGraphAndTheBufferIsCapped() {
        CKelvarinView view;
        view.EnableStatistics();
        view.m_nGraphMaxPoints = 10;
        for (int i = 1; i <= 25; ++i)
            view.OnNewValue(static_cast<float>(i));
        CGraphRenderer graph = view.GraphSnapshot();
        QCOMPARE(graph.m_points.size(), size_t(10));
        QCOMPARE(graph.m_nPointCount, 10);
        QCOMPARE(graph.m_points.front().fValue, 16.0f); // oldest dropped first
        QCOMPARE(graph.m_points.back().fValue, 25.0f);

        view.m_bAcquiring = true;
        view.OnNewValue(30.0f);
        view.OnNewValue(31.0f);
        QCOMPARE(view.GraphSnapshot().m_points.back().fValue, 25.0f);
        QCOMPARE(view.StatisticsSnapshot().m_nCount, 27);
        QCOMPARE(view.SampleForAcquisition(), 31.0f);
        graph = view.GraphSnapshot();
        QCOMPARE(graph.m_points.back().fValue, 31.0f);
        QCOMPARE(graph.m_points.size(), size_t(10));
        QCOMPARE(view.StatisticsSnapshot().m_nCount, 27); // not fed by the sampling tick

        view.OnCommand(Command::ResetGraphic);
        QVERIFY(view.GraphSnapshot().m_points.empty());
        QCOMPARE(view.StatisticsSnapshot().m_nCount, 0);
        view.m_bAcquiring = false;
        view.OnNewValue(1.0f);
        QVERIFY(view.GraphSnapshot().m_points.front().fTime < 1.0f); // the time base restarted
    }

    void channelConfigurationSendsWavelengthThenAnticipation() {
        CMeterSimulator meter(Steady("KV7002"));
        std::string error;
        QVERIFY(meter.Start(error));
        CKelvarinView view;
        view.m_config.m_nPosition = 3;
        view.m_config.m_strTitle = "Head";
        view.OpenPort(meter.PortPath());
        QSignalSpy configured(&view, &CKelvarinView::channelConfigured);

        OnModal([](QWidget* dialog) { Click(dialog, "buttonCancel"); });
        view.OnCommand(Command::ChannelConfiguration);
        QTest::qWait(100);
        QCOMPARE(Received(meter), std::string());
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
        QTRY_COMPARE(Received(meter), std::string("*PWC  532*ANF"));
        const auto bytes = meter.ReceivedBytes();
        QVERIFY(bytes[9].timeMs - bytes[8].timeMs >= 195); // 200 ms between the two commands
        QCOMPARE(configured.count(), 1);
        QCOMPARE(configured.at(0).at(0).toInt(), 3);
        const CGraphRenderer graph = view.GraphSnapshot();
        QCOMPARE(graph.m_fLevelHighLine, 2e-3f);
        QCOMPARE(graph.m_fLevelLowLine, 1e-3f);
        QCOMPARE(view.m_config.m_nWavelength, 532);

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
        const CGraphRenderer scaled = view.GraphSnapshot();
        QVERIFY(!scaled.m_bAutoScaleY);
        QCOMPARE(scaled.m_fYMin, -1.0f);
        QCOMPARE(scaled.m_fYMax, 3.0f);
    }

    void identifyThenClose() {
        CMeterSimulator meter(Steady("KV7003"));
        std::string error;
        QVERIFY(meter.Start(error));
        qputenv("KELVARIN_PORTS", QByteArray::fromStdString(meter.PortPath()));
        CKelvarinView view;
        OnModal([](QWidget* dialog) { Click(dialog, "buttonOk"); });
        view.OnCommand(Command::IdentifyMeter);
        QVERIFY(view.IsConnected());
        QCOMPARE(view.m_config.m_strName, std::string("KLV-VIEW\r\n"));
        QCOMPARE(view.m_config.m_strSerial, std::string("KV7003\r\n"));
        QTRY_VERIFY(meter.IsStreaming());
        QTRY_VERIFY(view.m_fValue.load() > 0.0f);
        view.OnCommand(Command::ClosePort);
        QVERIFY(!view.IsConnected());
        QTRY_VERIFY(!meter.IsStreaming());
        QVERIFY(Received(meter).find("*NAM*SNN*CAU") != std::string::npos);
        QCOMPARE(Received(meter).substr(Received(meter).size() - 4), std::string("*CSU"));
        qunsetenv("KELVARIN_PORTS");
    }

    void paintingFontsColoursAndTheClosedPane() {
        CKelvarinView view;
        view.m_config.m_strTitle = "Title";
        view.m_config.m_strName = "Name";
        view.m_config.m_strSerial = "Serial";
        view.resize(800, 600);
        view.show();
        QCOMPARE(view.ValueFont().height, 120);
        QCOMPARE(view.ValueFont().width, 32);
        QCOMPARE(view.StatsFont().height, 54);
        QCOMPARE(view.StatsFont().width, 24);

        const QRect middle(0, 200, 800, 200);
        const QRect top(0, 0, 800, 60);
        QImage image = view.Render();
        QVERIFY(CountColour(image, middle, qRgb(0, 0, 0)) > 500); // 0.000 pW
        QCOMPARE(CountColour(image, image.rect(), qRgb(255, 0, 0)), 0);
        QVERIFY(CountColour(image, top, qRgb(0, 0, 0)) > 50); // title, name, serial

        view.m_bAlarm = true;
        image = view.Render();
        QVERIFY(CountColour(image, middle, qRgb(255, 0, 0)) > 500);
        QCOMPARE(CountColour(image, top, qRgb(255, 0, 0)), 0);
        QVERIFY(CountColour(image, top, qRgb(0, 0, 0)) > 50);
        view.OnCommand(Command::StatisticsDisplay);
        image = view.Render();
        QVERIFY(CountColour(image, QRect(0, 60, 800, 540), qRgb(255, 0, 0)) > 2000);
        QCOMPARE(CountColour(image, QRect(0, 60, 800, 540), qRgb(0, 0, 0)), 0);

        // Closed port: no menu, no dialog on a double click.
        QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, QPoint(10, 10),
                                    view.mapToGlobal(QPoint(10, 10)));
        QApplication::sendEvent(&view, &menuEvent);
        QVERIFY(!QApplication::activePopupWidget());
        QTest::mouseDClick(&view, Qt::LeftButton, {}, QPoint(400, 300));
        QVERIFY(!QApplication::activeModalWidget());
    }

    void menuCommandsAndCloseRequest() {
        CKelvarinView view;
        view.m_config.m_nPosition = 6;
        QSignalSpy full(&view, &CKelvarinView::showPositionFull);
        std::unique_ptr<QMenu> menu(view.CreateContextMenu(nullptr));
        QStringList texts;
        for (QAction* action : menu->actions())
            texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
        QCOMPARE(texts, (QStringList{"Full Screen", "-", "Real Time Display", "Graphic Display",
                                     "Statistics Display", "-", "Channel Configuration", "-",
                                     "Reset Graphic", "Reset Statistics", "Reset Alarms"}));
        menu->actions().at(0)->trigger();
        QCOMPARE(full.count(), 1);
        QCOMPARE(full.at(0).at(0).toInt(), 6); // the index, not the number shown
        menu->actions().at(3)->trigger();
        QCOMPARE(view.m_nDisplayMode, int(CKelvarinView::Graphic));

        m_messages.clear();
        view.close();
        QCOMPARE(m_messages, QStringList{"Closing!"});
        m_messages.clear();
        view.DestroyWindow();
        QCOMPARE(m_messages, QStringList{"DestroyWindow!"}); // "Closing Port!" only when open
    }

    void pollingAgainstPaintingAndResets() {
        // Run under ThreadSanitizer: a fast meter while the pane paints and resets.
        MeterProfile fast = Steady("KV7004", 500);
        fast.noise = 0.01;
        CMeterSimulator meter(fast);
        std::string error;
        QVERIFY(meter.Start(error));
        CKelvarinView view;
        view.resize(640, 480);
        view.m_nGraphMaxPoints = 300;
        view.OpenPort(meter.PortPath());
        view.ApplyWavelengthAndStart();
        view.EnableStatistics();
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
        int round = 0;
        while (std::chrono::steady_clock::now() < end) {
            view.m_nDisplayMode = round % 3;
            view.Render();
            if (round % 5 == 0)
                view.ResetGraph();
            if (round % 7 == 0)
                view.OnCommand(Command::ResetStatistics);
            QCoreApplication::processEvents();
            ++round;
        }
        QVERIFY(view.GraphSnapshot().m_points.size() <= 300);
        QVERIFY(meter.ReadingsSent() > 200);
    }
};

QTEST_MAIN(KelvarinViewTest)
#include "KelvarinViewTest.moc"

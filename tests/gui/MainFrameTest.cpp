// The main window with simulated meters: start-up auto-detection, layouts, resets, saving and
// closing.

#include "app/MainFrame.h"
#include "app/GridRule.h"
#include "channel/KelvarinView.h"
#include "detectors/ChannelConfigFile.h"
#include "gui/MessageBox.h"
#include "link/ComAccess.h"
#include "link/LocalTime.h"
#include "res/CommandIds.h"
#include "sim/MeterSimulator.h"
#include "support/ModalDialogs.h"
#include "support/SteadyMeter.h"
#include "support/Subprocess.h"
#include "support/TempHome.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include <dirent.h>

#include <algorithm>
#include <cerrno>

#include <fstream>

namespace {

TempHome g_home; // before any settings are read

// The panes' polling threads alive in this process. Counted by name: Qt's pooled threads come
// and go by themselves and would make a plain thread count depend on timing.
int PollingThreadCount() {
    int n = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (const dirent* entry = readdir(dir)) {
            if (entry->d_name[0] == '.')
                continue;
            std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
            std::string name;
            n += std::getline(comm, name) && name == "kv-poll";
        }
        closedir(dir);
    }
    return n;
}

} // namespace

class MainFrameTest : public QObject {
    Q_OBJECT

private:
    QStringList m_messages;

private slots:
    void initTestCase() {
        qputenv("KELVARIN_PORTS_ONLY", "1");
        SetMessageInterceptor([this](const QString& text) { m_messages << text; });
    }

    void gridRule() {
        // Tracks that fit, a partial fit, then nothing; the last takes the rest.
        EXPECT_SIZES({{100, 10}, {100, 10}, {100, 10}}, 250, 0, {100, 100, 50});
        EXPECT_SIZES({{100, 10}, {100, 10}, {100, 10}}, 150, 0, {100, 50, 0});
        // An ideal below its minimum hides a track.
        EXPECT_SIZES({{0, 10}, {1000, 955}, {250, 10}, {250, 10}}, 1000, 6, {0, 1000, 0, 0});
        // Bars stand between visible tracks only.
        EXPECT_SIZES({{333, 10}, {333, 10}, {333, 10}, {0, 0}}, 1000, 6, {333, 333, 322, 0});
        EXPECT_SIZES({{500, 10}, {0, 0}}, 800, 6, {500, 294});
        QCOMPARE(PositionRow(5), 1);
        QCOMPARE(PositionColumn(5), 1);
    }

    void startUpDetectsAndAssignsInListOrder() {
        // Reached through stable links, as a lab would: the lost panes below try their links,
        // never a pseudo-terminal that the system may give to another test's meter meanwhile.
        CSimulatorSet meters;
        std::string error;
        QVERIFY(meters.Start(3, error, g_home.Path()));
        const auto serial = [&](size_t i) {
            return meters.Meter(i).Profile().serialReply.substr(4);
        };
        CChannelConfig stored;
        stored.m_nPosition = 4;
        QVERIFY(SaveChannelConfigFile(serial(0), stored, error));
        stored.m_nPosition = 1;
        stored.m_strTitle = "Seed";
        QVERIFY(SaveChannelConfigFile(serial(1), stored, error));
        // A damaged file: the meter is connected with its defaults, the damage told once.
        {
            std::ofstream damaged(ConfigFilePath(serial(2)), std::ios::binary);
            damaged << "\x05"
                       "ab";
        }
        m_messages.clear();
        // A port without a meter between them takes no position.
        qputenv("KELVARIN_PORTS",
                QByteArray::fromStdString(meters.Meter(0).StablePath() +
                                          ":/dev/kv-none:" + meters.Meter(1).StablePath() + ":" +
                                          meters.Meter(2).StablePath()));
        auto owned = std::make_unique<CMainFrame>();
        CMainFrame& frame = *owned;
        frame.resize(1000, 700);
        frame.show();
        QCOMPARE(frame.StatusPane()->text(), QStringLiteral("Disconnected"));
        QCOMPARE(frame.windowTitle(), QStringLiteral("Interface - Kelvarin"));
        AcceptAutoDetection(); // the list opens by itself two seconds after start-up
        QTRY_COMPARE_WITH_TIMEOUT(frame.ConnectedCount(), 3, 15000);
        QCOMPARE(frame.GetChannel(0).Config().m_strSerial, serial(1)); // stored position 1
        QCOMPARE(frame.GetChannel(0).Config().m_strTitle, std::string("Seed"));
        QCOMPARE(frame.GetChannel(1).Config().m_strSerial, serial(0)); // stored position 4
        QCOMPARE(frame.GetChannel(2).Config().m_strSerial, serial(2));
        QCOMPARE(frame.GetChannel(2).Config().m_strTitle, std::string("Position_3"));
        QCOMPARE(m_messages.size(), 2);
        QVERIFY(m_messages[0].contains(QString::fromStdString(ConfigFilePath(serial(2)))));
        QVERIFY(m_messages[1].startsWith("/dev/kv-none: cannot open the port: ")); // told why
        QCOMPARE(frame.GetChannel(1).Config().m_nPosition, 1);
        QVERIFY(!frame.GetView(3)->IsConnected());
        QCOMPARE(frame.m_nLayout, 3);
        QCOMPARE(frame.Grid()->ColumnSizes()[3], 0);
        QTRY_COMPARE(frame.StatusPane()->text(), QStringLiteral("Detector connected: 3/8"));
        QTRY_VERIFY(frame.GetChannel(2).Value() > 0.0f);

        m_messages.clear();
        frame.OnCommand(Command::AutoDetection);
        QCOMPARE(m_messages, QStringList{"Unable to modify the window if one is already active"});

        // Resets: alarms of connected panes only, statistics of all.
        CChannel& idle = frame.GetChannel(6);
        idle.EnableStatistics();
        idle.OnNewValue(1.0f); // above the default levels of 0: latched
        frame.GetChannel(0).OnNewValue(-1.0f);
        frame.OnCommand(Command::ResetAllAlarms);
        QVERIFY(idle.Alarm());
        QVERIFY(!frame.GetChannel(0).Alarm());
        frame.OnCommand(Command::ResetAllStatistics);
        QCOMPARE(idle.StatisticsSnapshot().m_nCount, 0);

        // Saved files are the tool's to read.
        frame.OnCommand(Command::SaveDetectorConfiguration);
        const ProcessResult shown = RunProgram({KELVARIN_CLI_PATH, "config", "show", serial(2)});
        QCOMPARE(shown.exitCode, 0);
        QVERIFY(shown.out.find("m_strTitle=Position_3\n") != std::string::npos);
        QVERIFY(shown.out.find("m_nPosition=2\n") != std::string::npos);

        // All three unplugged: the panes keep their places, lost, and auto-detection (its list
        // from the probe of start-up) binds none of those meters a second time elsewhere.
        for (size_t i = 0; i < 3; ++i)
            meters.Meter(i).Replug(600000);
        QTRY_VERIFY_WITH_TIMEOUT(frame.GetView(0)->IsLost() && frame.GetView(1)->IsLost() &&
                                     frame.GetView(2)->IsLost(),
                                 30000);
        QTRY_COMPARE(frame.StatusPane()->text(), QStringLiteral("Disconnected"));
        AcceptAutoDetection();
        frame.OnCommand(Command::AutoDetection);
        for (int p = 0; p < 8; ++p)
            QCOMPARE(frame.GetView(p)->IsBound(), p < 3);
        QVERIFY(frame.GetView(0)->IsLost());
        QCOMPARE(frame.GetChannel(0).Config().m_strSerial, serial(1));
        QCOMPARE(frame.GetChannel(1).Config().m_strSerial, serial(0));

        // Closing with the meters lost: every thread gone.
        const int pollingBefore = PollingThreadCount();
        QElapsedTimer closing;
        closing.start();
        frame.close();
        owned.reset();
        QVERIFY(closing.elapsed() < 10000); // a hang, not a slow machine
        QCOMPARE(pollingBefore - PollingThreadCount(), 8);
        for (size_t i = 0; i < 3; ++i)
            QTRY_VERIFY(!meters.Meter(i).IsStreaming());
        qunsetenv("KELVARIN_PORTS");
    }

    // Eight meters probed and connected while a 20 ms timer of the window keeps firing: no wait
    // of the user-interface thread comes near the second it once took per port and meter.
    void theWindowKeepsAnsweringWhileEightMetersConnect() {
        CSimulatorSet meters;
        std::string error;
        QVERIFY(meters.Start(8, error));
        std::string ports;
        for (size_t i = 0; i < 8; ++i)
            ports += (i ? ":" : "") + meters.Meter(i).PortPath();
        qputenv("KELVARIN_PORTS", QByteArray::fromStdString(ports));
        m_messages.clear();
        CMainFrame frame;
        frame.show();
        QElapsedTimer clock;
        clock.start();
        qint64 last = 0;
        qint64 longest = 0;
        QTimer beat;
        connect(&beat, &QTimer::timeout, [&] {
            longest = std::max(longest, clock.elapsed() - last);
            last = clock.elapsed();
        });
        beat.start(20);
        AcceptAutoDetection(); // the probe of start-up, then OK
        QTRY_COMPARE_WITH_TIMEOUT(frame.ConnectedCount(), 8, 15000);
        QVERIFY2(longest < 1000, qPrintable(QString::number(longest)));
        for (int p = 0; p < 8; ++p)
            QTRY_VERIFY(frame.GetChannel(p).ReadingCount() > 0);
        QVERIFY(m_messages.isEmpty());
        qunsetenv("KELVARIN_PORTS");
    }

    // The port refused between the probe and OK (here for lack of permission): the position
    // stays unbound and one message names the port, the system's reason and the remedy.
    void aPortRefusedAtBindingIsToldAndLeavesThePositionUnbound() {
        CMeterSimulator meter(DefaultMeterProfile(0));
        std::string error;
        QVERIFY(meter.Start(error));
        qputenv("KELVARIN_PORTS", QByteArray::fromStdString(meter.PortPath()));
        m_messages.clear();
        CMainFrame frame;
        QTimer refuse;
        connect(&refuse, &QTimer::timeout, [&] {
            QWidget* list = QApplication::activeModalWidget();
            auto* ok = list ? list->findChild<QPushButton*>(QStringLiteral("buttonOk")) : nullptr;
            if (!ok || !ok->isEnabled())
                return;
            refuse.stop();
            ComAccess::InjectOpenFailure(meter.PortPath(), EACCES);
            ok->click();
        });
        refuse.start(20); // the list of start-up
        QTRY_COMPARE_WITH_TIMEOUT(m_messages.size(), 1, 10000);
        QVERIFY2(m_messages[0].startsWith(QString::fromStdString(meter.PortPath()) +
                                          ": cannot open the port: "),
                 qPrintable(m_messages[0]));
        QVERIFY(m_messages[0].contains("(13) Permission denied"));
        QVERIFY(m_messages[0].contains("sudo usermod -aG"));
        QVERIFY(!frame.GetChannel(0).IsBound());
        QCOMPARE(frame.GetChannel(0).Config().m_strTitle, std::string());
        QCOMPARE(frame.StatusText(), QStringLiteral("Disconnected"));
        QCOMPARE(ReceivedText(meter),
                 std::string("*CSU*NAM*SNN")); // the probe's commands, nothing more
        ComAccess::InjectOpenFailure(meter.PortPath(), 0);
        qunsetenv("KELVARIN_PORTS");
    }

    // A scheduled window that ends while no detector is connected is not started when one
    // connects later: the user is told, once, that nothing was recorded.
    void aWindowThatEndsWithNoDetectorIsTold() {
        qunsetenv("KELVARIN_PORTS"); // no port at all
        CMainFrame frame;
        frame.show();
        AcceptAutoDetection();
        QTRY_VERIFY_WITH_TIMEOUT(frame.m_dlgAutoDetect.result() == QDialog::Accepted, 15000);
        m_messages.clear();
        const std::time_t now = std::time(nullptr);
        CAcquisitionPlan plan = frame.Station().Plan();
        plan.m_strAcqBaseName = g_home.Path() + "/unseen";
        plan.m_bByTime = true;
        plan.m_timeAcqStart = now;
        plan.m_timeAcqEnd = now + 1;
        frame.Station().SetPlan(plan, now);
        QVERIFY(frame.Station().IsStartPending());
        QTRY_COMPARE_WITH_TIMEOUT(
            m_messages,
            QStringList{QString::fromStdString(
                "No detector was connected during the acquisition window from " +
                LocalDateTimeText(now) + " to " + LocalDateTimeText(now + 1) +
                ": nothing was recorded")},
            30000);
        QVERIFY(!frame.Station().IsStartPending());
        QVERIFY(!frame.Station().IsAcquiring());
    }

    void mosaicsAndFullScreen() {
        CMainFrame frame;
        frame.resize(1000, 700);
        frame.show();
        const int w = frame.frameGeometry().width();
        frame.OnCommand(Command::Mosaic1x3);
        QCOMPARE(frame.Grid()->ColumnInfo(0).ideal, w / 3);
        QCOMPARE(frame.Grid()->ColumnSizes()[3], 0);
        QCOMPARE(frame.Grid()->RowSizes()[1], 0);
        QVERIFY(frame.GetView(2)->isVisible() && !frame.GetView(3)->isVisible());

        frame.OnCommand(Command::Mosaic2x4);
        QCOMPARE(frame.m_nLayout, 8);
        for (int p = 0; p < 8; ++p)
            QVERIFY(frame.GetView(p)->isVisible());
        frame.OnShowPositionFull(5); // position 6
        QCOMPARE(frame.Grid()->ColumnSizes()[0], 0);
        QCOMPARE(frame.Grid()->ColumnSizes()[1], frame.Grid()->width());
        QCOMPARE(frame.Grid()->RowSizes()[1], frame.Grid()->height());
        QVERIFY(frame.GetView(5)->isVisible() && !frame.GetView(1)->isVisible());
        const std::vector<int> columns = frame.Grid()->ColumnSizes();
        frame.OnShowPositionFull(8); // not a position: nothing happens
        QCOMPARE(frame.Grid()->ColumnSizes(), columns);
        frame.OnCommand(Command::FullScreenPosition1 + 4); // position 5 after 6
        QCOMPARE(frame.Grid()->ColumnSizes()[0], frame.Grid()->width());
        QVERIFY(frame.GetView(4)->isVisible());

        QString version;
        QTimer::singleShot(100, [&version] {
            QWidget* about = QApplication::activeModalWidget();
            version = about->findChild<QLabel*>(QStringLiteral("labelVersion"))->text();
            about->findChild<QPushButton*>(QStringLiteral("buttonOk"))->click();
        });
        frame.OnCommand(Command::About);
        QCOMPARE(version, QStringLiteral("Kelvarin Version 1.00.10"));
    }

private:
    static void EXPECT_SIZES(const std::vector<GridTrack>& tracks, int available, int bar,
                             const std::vector<int>& expected) {
        QCOMPARE(LayoutTracks(tracks, available, bar), expected);
    }
};

QTEST_MAIN(MainFrameTest)
#include "MainFrameTest.moc"

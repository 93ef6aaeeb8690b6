// Acquisitions from the main window, with simulated meters: the parameters dialog's copy in and
// out, starts by hand and on schedule, the status text, stop, close and the failures a user must
// be told about.

#include "acquisition/AcquisitionReader.h"
#include "acquisition/DataSamplingDlg.h"
#include "app/MainFrame.h"
#include "channel/KelvarinView.h"
#include "gui/MessageBox.h"
#include "res/CommandIds.h"
#include "sim/MeterSimulator.h"
#include "support/DialogInput.h"
#include "support/ModalDialogs.h"
#include "support/ReadFile.h"
#include "support/SteadyMeter.h"
#include "support/TempHome.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolBar>
#include <QtTest>

#include <fstream>
#include <memory>
#include <sstream>

namespace {

TempHome g_home;

MeterProfile Steady(const std::string& serial, double watts) {
    return SteadyProfile("KLV-ACQ", serial, 20, watts);
}

QAction* ToolAction(CMainFrame& frame, int id) {
    for (QAction* action : frame.findChild<QToolBar*>("toolBar")->actions())
        if (action->data().toInt() == id)
            return action;
    return nullptr;
}

} // namespace

class AcquisitionFrameTest : public QObject {
    Q_OBJECT

    QStringList m_messages;
    std::unique_ptr<CMeterSimulator> m_seed, m_amp;
    std::unique_ptr<CMainFrame> m_frame;

    // A frame with the two meters streaming in positions 1 and 2.
    void OpenFrame() {
        m_frame = std::make_unique<CMainFrame>();
        m_frame->show();
        AcceptAutoDetection();
        QTRY_COMPARE_WITH_TIMEOUT(m_frame->ConnectedCount(), 2, 15000);
        QTRY_VERIFY_WITH_TIMEOUT(m_frame->GetChannel(1).Value() > 0.0f, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(m_frame->GetChannel(0).Value() > 0.0f, 10000);
        m_messages.clear();
    }

    // Sets the parameters through the dialog, as a user types them.
    void SetParameters(const QString& prefix, int period, int duration) {
        OnModal([=](QWidget* dialog) {
            Type(dialog, "editFile", prefix);
            Type(dialog, "editPeriod", QString::number(period));
            Type(dialog, "editDuration", QString::number(duration));
            QTest::mouseClick(dialog->findChild<QPushButton*>("buttonOk"), Qt::LeftButton);
        });
        m_frame->OnCommand(Command::AcquisitionParameters);
    }

    QString Prefix() const { return QString::fromStdString(g_home.Path() + "/run"); }

private slots:
    void initTestCase() {
        qputenv("KELVARIN_PORTS_ONLY", "1");
        SetMessageInterceptor([this](const QString& text) { m_messages << text; });
        m_seed = std::make_unique<CMeterSimulator>(Steady("KV5001", 1.234e-3));
        m_amp = std::make_unique<CMeterSimulator>(Steady("KV5002", 2.5e-6));
        m_amp->SetLinkPath(g_home.Path() + "/" + LinkName(m_amp->Profile()));
        std::string error;
        QVERIFY(m_seed->Start(error));
        QVERIFY(m_amp->Start(error));
        qputenv("KELVARIN_PORTS",
                QByteArray::fromStdString(m_seed->PortPath() + ":" + m_amp->StablePath()));
        OpenFrame();
    }
    void cleanupTestCase() { m_frame.reset(); }
    void init() { m_messages.clear(); }

    void refusalsBeforeAStart() {
        CMainFrame& frame = *m_frame;
        QVERIFY(!ToolAction(frame, Command::ToolStartAcquisition)->isEnabled()); // no file yet
        QVERIFY(!ToolAction(frame, Command::ToolStopAcquisition)->isEnabled());
        frame.OnCommand(Command::StartAcquisition);
        QCOMPARE(m_messages, QStringList{"No file selected!"});

        // Cancel after changing every field changes nothing.
        OnModal([](QWidget* dialog) {
            Type(dialog, "editFile", "/elsewhere/x");
            Type(dialog, "editPeriod", "9");
            QTest::mouseClick(dialog->findChild<QPushButton*>("buttonCancel"), Qt::LeftButton);
        });
        frame.OnCommand(Command::AcquisitionParameters);
        QCOMPARE(frame.Station().Plan().m_strAcqBaseName, std::string());
        QCOMPARE(frame.Station().Plan().m_nSamplingPeriod, 1);

        // A file that cannot be created: nothing starts, and the user is told which and why.
        m_messages.clear();
        SetParameters(QString::fromStdString(g_home.Path() + "/missing/run"), 1, 5);
        QTRY_VERIFY(ToolAction(frame, Command::ToolStartAcquisition)->isEnabled());
        QTest::mouseClick(frame.findChild<QToolBar*>("toolBar")->widgetForAction(
                              ToolAction(frame, Command::ToolStartAcquisition)),
                          Qt::LeftButton);
        QCOMPARE(m_messages.size(), 1);
        QVERIFY(m_messages[0].startsWith(QString::fromStdString(
            "Unable to create the acquisition file " + g_home.Path() + "/missing/run")));
        QVERIFY(m_messages[0].endsWith(".txt: No such file or directory"));
        QVERIFY(!frame.Station().IsAcquiring());
        QCOMPARE(frame.StatusText(), QString("Detector connected: 2/8"));
    }

    void byHandRecordsEveryChannelUntilItsDuration() {
        CMainFrame& frame = *m_frame;
        SetParameters(Prefix(), 1, 2);
        QAction* start = ToolAction(frame, Command::ToolStartAcquisition);
        QVERIFY(start->isEnabled());
        start->trigger();
        QVERIFY(frame.Station().IsAcquiring());
        const std::string file = frame.Station().AcquisitionFile();
        QVERIFY(file.rfind(g_home.Path() + "/run", 0) == 0);
        QCOMPARE(frame.StatusText(),
                 QString::fromStdString("Detector connected: 2/8... and acquiring in: " + file));
        QVERIFY(!start->isEnabled());
        QVERIFY(ToolAction(frame, Command::ToolStopAcquisition)->isEnabled());
        QVERIFY(frame.GetChannel(0).IsAcquiring());

        frame.OnCommand(Command::AcquisitionParameters); // refused while acquiring
        QCOMPARE(m_messages, QStringList{"Acquiring"});
        m_messages.clear();

        QTRY_COMPARE_WITH_TIMEOUT(
            m_messages, QStringList{QString::fromStdString("Acquistion completed : " + file)},
            10000);
        QVERIFY(!frame.Station().IsAcquiring());
        QVERIFY(!frame.GetChannel(0).IsAcquiring());
        QTRY_COMPARE(frame.StatusText(), QString("Detector connected: 2/8"));
        QVERIFY(start->isEnabled());

        const std::string text = ReadFile(file);
        QVERIFY(
            text.rfind("2\r\n\tPosition_1\tPosition_2\t\r\n" + std::string(82, '-') + "\r\n\r\n",
                       0) == 0);
        const CAcquisitionData data = ReadAcquisitionText(text);
        QCOMPARE(data.m_messages, std::vector<std::string>{});
        QCOMPARE(data.m_nLines, 3); // D / P + 1
        for (const CGraphData& point : data.m_series[0])
            QCOMPARE(point.fValue, 1.234e-3f);
        for (const CGraphData& point : data.m_series[1])
            QCOMPARE(point.fValue, 2.5e-6f);
        // While acquiring, the graph took one point per tick (then live readings again).
        const CGraphRenderer graph = frame.GetChannel(0).GraphSnapshot();
        QVERIFY(graph.m_nPointCount >= 3);
        QVERIFY(graph.m_points[1].fTime - graph.m_points[0].fTime > 0.9f);
        QVERIFY(graph.m_points[2].fTime - graph.m_points[1].fTime > 0.9f);
    }

    void stopKeepsTheLastLineWholeAndSaysNothing() {
        CMainFrame& frame = *m_frame;
        SetParameters(Prefix(), 1, 600);
        frame.OnCommand(Command::StartAcquisition);
        QVERIFY(frame.Station().IsAcquiring());
        const std::string file = frame.Station().AcquisitionFile();
        QTRY_VERIFY_WITH_TIMEOUT(ReadAcquisitionText(ReadFile(file)).m_nLines >= 2, 10000);
        frame.OnCommand(Command::StopAcquisition);
        QVERIFY(!frame.Station().IsAcquiring());
        QCOMPARE(frame.StatusText(), QString("Detector connected: 2/8"));
        const std::string text = ReadFile(file);
        QVERIFY(text.size() >= 2 && text.substr(text.size() - 3) == "\t\r\n");
        // Its worker is joined: no line can follow, and nothing is left to tell.
        QVERIFY(frame.Station().Tick(std::time(nullptr)).empty());
        QCOMPARE(ReadFile(file), text);
        QVERIFY(m_messages.isEmpty());
    }

    // Unplugged mid-run and plugged in again: the status bar counts it out, its column holds its
    // last reading, and once it is back the same pane records it with every line whole.
    void anUnpluggedChannelHoldsItsColumnAndComesBack() {
        CMainFrame& frame = *m_frame;
        CChannel* amp = &frame.GetChannel(1);
        SetParameters(Prefix(), 1, 8);
        frame.OnCommand(Command::StartAcquisition);
        const std::string file = frame.Station().AcquisitionFile();
        QTRY_VERIFY_WITH_TIMEOUT(ReadAcquisitionText(ReadFile(file)).m_nLines >= 1, 10000);
        m_amp->Replug(60000); // out until the status bar is checked
        QTRY_VERIFY_WITH_TIMEOUT(amp->IsLost(), 30000);
        QTRY_COMPARE(
            frame.StatusText(),
            QString::fromStdString("Detector connected: 1/8... and acquiring in: " + file));
        const uint64_t before = amp->ReadingCount();
        m_amp->PlugIn();
        QTRY_VERIFY_WITH_TIMEOUT(amp->IsConnected(), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(amp->ReadingCount() > before + 3, 30000);
        QCOMPARE(&frame.GetChannel(1), amp);
        QVERIFY(amp->IsAcquiring());
        QTRY_COMPARE(frame.StatusText().left(24), QString("Detector connected: 2/8."));
        QTRY_VERIFY_WITH_TIMEOUT(!m_messages.isEmpty(), 15000); // completed
        const CAcquisitionData data = ReadAcquisitionText(ReadFile(file));
        QCOMPARE(data.m_messages, std::vector<std::string>{});
        QCOMPARE(data.m_nLines, 9);
        QCOMPARE(data.m_series[1].size(), size_t(9));
        for (const CGraphData& point : data.m_series[1])
            QCOMPARE(point.fValue, 2.5e-6f);
    }

    void aWindowUnderWayStartsAtOnceAndOneThatEndedDoesNot() {
        CMainFrame& frame = *m_frame;
        const std::time_t now = std::time(nullptr);
        const auto byTime = [&](std::time_t start, std::time_t end) {
            OnModal([=](QWidget* dialog) {
                Type(dialog, "editFile", Prefix());
                QTest::mouseClick(dialog->findChild<QCheckBox*>("checkByTime"), Qt::LeftButton, {},
                                  QPoint(6, 6));
                auto* self = qobject_cast<CDataSamplingDlg*>(dialog);
                self->m_timeAcqStart = start;
                self->m_timeAcqEnd = end;
                self->OnInitDialog();
                QTest::mouseClick(dialog->findChild<QPushButton*>("buttonOk"), Qt::LeftButton);
            });
            frame.OnCommand(Command::AcquisitionParameters);
        };
        byTime(now - 120, now - 60); // over before the dialog closed: not scheduled
        QVERIFY(frame.Station().Plan().m_bByTime);
        QVERIFY(!frame.Station().IsStartPending());
        frame.OnCommand(Command::StartAcquisition);
        QCOMPARE(m_messages, QStringList{"Unable to manualy start the acquistion"});
        m_messages.clear();

        byTime(now - 60, now + 2); // begun, not ended: it starts at the next status tick
        QVERIFY(frame.Station().IsStartPending());
        QTRY_VERIFY_WITH_TIMEOUT(frame.Station().IsAcquiring(), 30000);
        QVERIFY(!frame.Station().IsStartPending());
        const std::string file = frame.Station().AcquisitionFile();
        QTRY_COMPARE_WITH_TIMEOUT(m_messages.size(), 1, 10000);
        QCOMPARE(m_messages[0], QString::fromStdString("Acquistion completed : " + file));
        const std::string text = ReadFile(file);
        const std::string header = "2\r\n\tPosition_1\tPosition_2\t\r\n" + std::string(82, '-');
        QVERIFY(text.rfind(header + "\r\n", 0) == 0);
        QVERIFY(text.substr(header.size() + 2, 2) != "\r\n"); // no empty line on schedule
        QVERIFY(ReadAcquisitionText(text).m_nLines >= 2);
    }

    // Last: closing the window in the middle of a run.
    void closingDuringARunStopsItWithEveryLineWhole() {
        CMainFrame& frame = *m_frame;
        OnModal([](QWidget* dialog) {
            QTest::mouseClick(dialog->findChild<QCheckBox*>("checkByPeriod"), Qt::LeftButton, {},
                              QPoint(6, 6));
            QTest::mouseClick(dialog->findChild<QPushButton*>("buttonOk"), Qt::LeftButton);
        });
        frame.OnCommand(Command::AcquisitionParameters);
        SetParameters(Prefix(), 1, 600);
        frame.OnCommand(Command::StartAcquisition);
        QVERIFY(frame.Station().IsAcquiring());
        const std::string file = frame.Station().AcquisitionFile();
        QTRY_VERIFY_WITH_TIMEOUT(ReadAcquisitionText(ReadFile(file)).m_nLines >= 2, 10000);
        QElapsedTimer closing;
        closing.start();
        frame.close();
        m_frame.reset();
        QVERIFY(closing.elapsed() < 10000); // a hang, not a slow machine
        const CAcquisitionData data = ReadAcquisitionText(ReadFile(file));
        QCOMPARE(data.m_messages, std::vector<std::string>{});
        QVERIFY(data.m_nLines >= 2);
        QTRY_VERIFY(!m_seed->IsStreaming());
        QVERIFY(m_messages.isEmpty());
    }
};

QTEST_MAIN(AcquisitionFrameTest)
#include "AcquisitionFrameTest.moc"

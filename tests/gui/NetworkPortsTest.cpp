// Meters behind a real serial device server (ser2net on 127.0.0.1, stopped by its id), as a user
// reaches them: the Network Ports dialog adds, tests and removes ports; its list is kept in the
// profile; auto-detection then lists the network meter with its URL, name and serial, and its
// pane goes lost when the server goes and comes back with it.

#include "app/MainFrame.h"
#include "channel/KelvarinView.h"
#include "detectors/NetworkPortsDlg.h"
#include "gui/MessageBox.h"
#include "link/NetworkPortStore.h"
#include "sim/MeterSimulator.h"
#include "support/DialogInput.h"
#include "support/ModalDialogs.h"
#include "support/Ser2Net.h"
#include "support/SteadyMeter.h"
#include "support/TempHome.h"

#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QTableWidget>
#include <QtTest>

#include <memory>

namespace {

TempHome g_home; // before any settings are read

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

QString Result(QWidget* dialog) {
    return dialog->findChild<QLabel*>(QStringLiteral("labelResult"))->text();
}

QListWidget* List(QWidget* dialog) {
    return dialog->findChild<QListWidget*>(QStringLiteral("listPorts"));
}

// Triggers the Detectors menu's entry `text` of the real menu bar.
void TriggerDetectorsEntry(CMainFrame& frame, const char* text) {
    for (QAction* action : frame.findChild<QMenu*>(QStringLiteral("menuDetectors"))->actions())
        if (action->text() == QLatin1String(text))
            action->trigger();
}

} // namespace

class NetworkPortsTest : public QObject {
    Q_OBJECT

private:
    QStringList m_messages;
    std::unique_ptr<CMeterSimulator> m_meter;
    std::unique_ptr<Ser2Net> m_server;

private slots:
    void initTestCase() {
        if (!HasSer2Net())
            QSKIP("no ser2net on PATH");
        qputenv("KELVARIN_PORTS_ONLY", "1"); // never a meter of the machine's own
        qunsetenv("KELVARIN_PORTS");
        SetMessageInterceptor([this](const QString& text) { m_messages << text; });
        m_meter = std::make_unique<CMeterSimulator>(SteadyProfile("KLV-NET", "KN4001", 40));
        std::string error;
        QVERIFY2(m_meter->Start(error), error.c_str());
        m_server = std::make_unique<Ser2Net>(g_home.Path(), m_meter->PortPath(), 0, true);
        QVERIFY2(m_server->WaitReady(), m_server->Errors().c_str());
    }
    void init() { m_messages.clear(); }

    // Add refuses what is not a well-formed network URL, with the reason; Test probes on a
    // thread of its own and shows the meter's name and serial, or why the server could not be
    // reached; OK keeps the list, Cancel does not.
    void theDialogAddsTestsAndRemovesPorts() {
        CNetworkPortsDlg dialog;
        dialog.show();
        Type(&dialog, "editUrl", "rfc2217://lab-7");
        Click(&dialog, "buttonAdd");
        Type(&dialog, "editUrl", "/dev/ttyUSB0");
        Click(&dialog, "buttonAdd");
        QCOMPARE(m_messages,
                 QStringList({"rfc2217://lab-7: no port (HOST:PORT)",
                              "/dev/ttyUSB0: not a network port (rfc2217:// or socket://)"}));
        QCOMPARE(List(&dialog)->count(), 0);

        const std::string url = m_server->Url();
        Type(&dialog, "editUrl", Q(url));
        Click(&dialog, "buttonAdd");
        QCOMPARE(List(&dialog)->currentRow(), 0);
        Click(&dialog, "buttonTest");
        QTRY_COMPARE_WITH_TIMEOUT(Result(&dialog), Q(url + ": KLV-NET, serial KN4001"), 10000);

        const std::string closed = "socket://127.0.0.1:" + std::to_string(FreePort());
        Type(&dialog, "editUrl", Q(closed));
        Click(&dialog, "buttonAdd");
        QCOMPARE(List(&dialog)->currentRow(), 1);
        Click(&dialog, "buttonTest");
        const std::string endpoint = closed.substr(9);
        QTRY_COMPARE_WITH_TIMEOUT(
            Result(&dialog),
            Q(closed + ": cannot open the port: " + endpoint + ": Connection refused"), 10000);
        Type(&dialog, "editUrl", Q(url));
        Click(&dialog, "buttonAdd");
        QCOMPARE(m_messages.last(), Q(url + " is already listed."));
        Click(&dialog, "buttonRemove");
        QCOMPARE(dialog.Ports(), std::vector<std::string>{url});

        Click(&dialog, "buttonCancel");
        QVERIFY(ReadNetworkPorts().ports.empty());
        dialog.show();
        QCOMPARE(List(&dialog)->count(), 0);
        Type(&dialog, "editUrl", Q(url));
        Click(&dialog, "buttonAdd");
        Click(&dialog, "buttonOk");
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(dialog.Changed());
        QCOMPARE(ReadNetworkPorts().ports, std::vector<std::string>{url});
        std::string error;
        QVERIFY(WriteNetworkPorts({}, error));
    }

    // From the window's menu: a port added in Network Ports is probed by the next
    // auto-detection with the local ones, listed with its URL, name and serial, and connected;
    // its pane greys when the server goes and is live again when it is back.
    void aNetworkMeterIsDetectedConnectedLostAndResumed() {
        CMainFrame frame;
        frame.show();
        AcceptAutoDetection(); // the probe of start-up, with no port listed
        QTRY_VERIFY_WITH_TIMEOUT(frame.m_dlgAutoDetect.result() == QDialog::Accepted, 15000);
        QCOMPARE(frame.ConnectedCount(), 0);

        const std::string url = m_server->Url();
        OnModal([&](QWidget* dialog) {
            QCOMPARE(dialog->objectName(), QString("NetworkPortsDlg"));
            Type(dialog, "editUrl", Q(url));
            Click(dialog, "buttonAdd");
            Click(dialog, "buttonOk");
        });
        TriggerDetectorsEntry(frame, "Network Ports...");
        QCOMPARE(ReadNetworkPorts().ports, std::vector<std::string>{url});

        QStringList row;
        OnModal([&](QWidget* dialog) {
            auto* ok = dialog->findChild<QPushButton*>(QStringLiteral("buttonOk"));
            QTRY_VERIFY_WITH_TIMEOUT(ok->isEnabled(), 15000); // probed again, not the old list
            auto* list = dialog->findChild<QTableWidget*>(QStringLiteral("listDetectors"));
            QCOMPARE(list->rowCount(), 1);
            for (int column = 0; column < list->columnCount(); ++column)
                row << list->item(0, column)->text();
            ok->click();
        });
        TriggerDetectorsEntry(frame, "Auto Detection");
        QCOMPARE(row, QStringList({"-1", Q(url), "KLV-NET", "KN4001", ""}));
        QTRY_COMPARE_WITH_TIMEOUT(frame.ConnectedCount(), 1, 15000);
        CKelvarinView* pane = frame.GetView(0);
        QTRY_VERIFY_WITH_TIMEOUT(pane->State().live, 15000);
        QCOMPARE(frame.GetChannel(0).Config().m_strPort, url);

        const int port = m_server->Port();
        m_server.reset(); // killed by its id
        QTRY_VERIFY_WITH_TIMEOUT(pane->State().foot.startsWith("Meter lost at "), 15000);
        QVERIFY(!pane->State().live);
        m_server = std::make_unique<Ser2Net>(g_home.Path(), m_meter->PortPath(), port, true);
        QVERIFY2(m_server->WaitReady(), m_server->Errors().c_str());
        QTRY_VERIFY_WITH_TIMEOUT(pane->State().live, 20000);
        QCOMPARE(pane->State().foot, QString());
        QVERIFY(m_messages.isEmpty());
    }

    void cleanupTestCase() {
        m_server.reset();
        m_meter.reset();
    }
};

QTEST_MAIN(NetworkPortsTest)
#include "NetworkPortsTest.moc"

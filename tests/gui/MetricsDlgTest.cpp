// The window's metrics exporter: "Remote Monitoring" from the Parameters menu, its checks and
// its profile, a port that cannot be listened on, the start from the profile or the command
// line, and the page of the window's own channels and acquisitions.

#include "monitor/MetricsDlg.h"
#include "app/MainFrame.h"
#include "gui/MessageBox.h"
#include "res/CommandIds.h"
#include "sim/MeterSimulator.h"
#include "support/DialogInput.h"
#include "support/HttpClient.h"
#include "support/ModalDialogs.h"
#include "support/SteadyMeter.h"
#include "support/TempHome.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSettings>
#include <QStyleOptionButton>
#include <QtTest>

#include <memory>
#include <optional>

namespace {

TempHome g_home; // before any settings are read

QVariant Stored(const char* key) {
    return QSettings("Kelvarin", "Kelvarin").value(QStringLiteral("Metrics/") + key);
}

// Ticks or unticks the box as a mouse does: on its indicator.
void SetServe(QWidget* dialog, bool serve) {
    auto* box = dialog->findChild<QCheckBox*>(QStringLiteral("checkServe"));
    if (box->isChecked() == serve)
        return;
    QStyleOptionButton option;
    option.initFrom(box);
    const QRect indicator =
        box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
    QTest::mouseClick(box, Qt::LeftButton, {}, indicator.center());
}

QString Text(QWidget* dialog, const char* name) {
    if (auto* edit = dialog->findChild<QLineEdit*>(QLatin1String(name)))
        return edit->text();
    return dialog->findChild<QLabel*>(QLatin1String(name))->text();
}

// Runs `act` on the dialog that the real menu entry opens, and returns when it has closed.
void OpenRemoteMonitoring(CMainFrame& frame, std::function<void(QWidget*)> act) {
    OnModal(std::move(act));
    for (QAction* action : frame.findChild<QMenu*>(QStringLiteral("menuParameters"))->actions())
        if (action->text() == QLatin1String("Remote Monitoring..."))
            action->trigger();
}

// A window as the application starts it, shown, past its auto-detection list (which would
// otherwise open by itself in the middle of a test).
std::unique_ptr<CMainFrame> StartWindow(const std::optional<MetricsEndpoint>& commandLine = {}) {
    auto frame = std::make_unique<CMainFrame>();
    frame->StartMetrics(commandLine);
    frame->show();
    AcceptAutoDetection();
    CMainFrame* shown = frame.get();
    [&] {
        QTRY_VERIFY_WITH_TIMEOUT(shown->m_dlgAutoDetect.result() == QDialog::Accepted, 15000);
    }();
    return frame;
}

std::string Page(int port) {
    const HttpAnswer answer = HttpGet(port, "/metrics");
    return answer.status == 200 ? answer.body : std::string();
}

bool Contains(const std::string& page, const std::string& line) {
    return page.find(line) != std::string::npos;
}

// The value of an unlabelled sample, -1 when the page has none.
double Value(const std::string& page, const std::string& name) {
    const size_t at = page.find("\n" + name + " ");
    return at == std::string::npos ? -1.0 : std::atof(page.c_str() + at + name.size() + 2);
}

} // namespace

class MetricsDlgTest : public QObject {
    Q_OBJECT

    QStringList m_messages;

private slots:
    void initTestCase() {
        if (!CMetricsServer::Available())
            QSKIP("This build has no metrics exporter");
        qputenv("KELVARIN_PORTS_ONLY", "1");
        SetMessageInterceptor([this](const QString& text) { m_messages << text; });
    }
    void init() {
        m_messages.clear();
        QSettings("Kelvarin", "Kelvarin").remove("Metrics");
    }

    // Off unless asked; a bad address or port is named, the dialog stays and nothing is applied.
    void aBadAddressOrPortIsNamedThenServesFromTheDialogKeepsItAndStops() {
        auto frame = StartWindow();
        QVERIFY(!QTest::currentTestFailed());
        QVERIFY(!frame->MetricsServer().IsServing());
        QString shownFirst, urlFirst;
        QStringList stayed;
        OpenRemoteMonitoring(*frame, [&](QWidget* dialog) {
            shownFirst =
                QString(dialog->findChild<QCheckBox*>("checkServe")->isChecked() ? "on " : "off ") +
                Text(dialog, "editAddress") + " " + Text(dialog, "editPort") + " " +
                Text(dialog, "labelStatus");
            urlFirst = Text(dialog, "editUrl");
            SetServe(dialog, true);
            for (const char* port : {"65536", "80a"}) {
                Type(dialog, "editPort", port);
                Click(dialog, "buttonOk");
                stayed << (dialog->isVisible() ? "open" : "closed");
            }
            Type(dialog, "editPort", "10640");
            for (const char* address : {"localhost", "127.0.0.1:80"}) {
                Type(dialog, "editAddress", address);
                Click(dialog, "buttonOk");
                stayed << (dialog->isVisible() ? "open" : "closed");
            }
            Click(dialog, "buttonCancel");
        });
        QCOMPARE(shownFirst, QString("off 127.0.0.1 10640 Off"));
        QCOMPARE(urlFirst, QString("http://127.0.0.1:10640/metrics"));
        QCOMPARE(stayed, QStringList(4, "open"));
        const QString notAnAddress = " is not an IP address (such as 127.0.0.1, 0.0.0.0 or ::1).";
        QCOMPARE(m_messages, QStringList({"Port: \"65536\" is not a port number (0 to 65535).",
                                          "Port: \"80a\" is not a port number (0 to 65535).",
                                          "Address: \"localhost\"" + notAnAddress,
                                          "Address: \"127.0.0.1:80\"" + notAnAddress}));
        QVERIFY(!frame->MetricsServer().IsServing());
        QVERIFY(!Stored("Enabled").isValid()); // nothing applied, nothing kept

        m_messages.clear();
        OpenRemoteMonitoring(*frame, [&](QWidget* dialog) {
            SetServe(dialog, true);
            Type(dialog, "editAddress", "127.0.0.1");
            Type(dialog, "editPort", "0");
            Click(dialog, "buttonOk");
        });
        QVERIFY(m_messages.isEmpty());
        QVERIFY(frame->MetricsServer().IsServing());
        const int port = frame->MetricsServer().Port();
        QVERIFY(port > 0);
        QVERIFY(Contains(Page(port), "kelvarin_build_info{version=\"" KELVARIN_VERSION "\"} 1"));
        QCOMPARE(Stored("Enabled").toInt(), 1);
        QCOMPARE(Stored("Address").toString(), QString("127.0.0.1"));
        QCOMPARE(Stored("Port").toInt(), 0);
        QCOMPARE(Stored("AuthFile").toString(), QString());
        QCOMPARE(Stored("TlsFile").toString(), QString());

        // Shown again: where it serves (the port the system gave); OK as it is keeps serving on
        // it; unticked, it stops and the profile says so.
        const QString url = QStringLiteral("http://127.0.0.1:%1/metrics").arg(port);
        QString status, shownUrl;
        OpenRemoteMonitoring(*frame, [&](QWidget* dialog) {
            status = Text(dialog, "labelStatus");
            shownUrl = Text(dialog, "editUrl");
            Click(dialog, "buttonOk");
        });
        QCOMPARE(status, "Serving on " + url);
        QCOMPARE(shownUrl, url);
        QCOMPARE(frame->MetricsServer().Port(), port);
        OpenRemoteMonitoring(*frame, [&](QWidget* dialog) {
            SetServe(dialog, false);
            Click(dialog, "buttonOk");
        });
        QVERIFY(!frame->MetricsServer().IsServing());
        QCOMPARE(HttpGet(port, "/metrics").status, 0);
        QCOMPARE(Stored("Enabled").toInt(), 0);
        OpenRemoteMonitoring(*frame, [&](QWidget* dialog) {
            status = Text(dialog, "labelStatus");
            Click(dialog, "buttonCancel");
        });
        QCOMPARE(status, QString("Off"));
        QVERIFY(m_messages.isEmpty());
    }

    // Told once with the address and the system's reason, from the dialog (which stays open and
    // shows it) and at start-up (after the window shows); the window goes on without it.
    void aPortInUseIsToldOnceAndTheWindowGoesOn() {
        CMeterMetrics other;
        CMetricsServer holder(other);
        MetricsEndpoint busy;
        busy.port = 0;
        std::string error;
        QVERIFY2(holder.Start(busy, error), error.c_str());
        busy.port = holder.Port();
        const QString told = QStringLiteral("Cannot serve metrics on 127.0.0.1:%1: Address "
                                            "already in use")
                                 .arg(busy.port);
        {
            auto frame = StartWindow();
            QVERIFY(!QTest::currentTestFailed());
            QString status;
            bool open = false;
            OpenRemoteMonitoring(*frame, [&](QWidget* dialog) {
                SetServe(dialog, true);
                Type(dialog, "editPort", QString::number(busy.port));
                Click(dialog, "buttonOk");
                open = dialog->isVisible();
                status = Text(dialog, "labelStatus");
                Click(dialog, "buttonCancel");
            });
            QCOMPARE(m_messages, QStringList{told});
            QVERIFY(open);
            QCOMPARE(status, "Not serving: " + told);
            QVERIFY(!frame->MetricsServer().IsServing());
            QCOMPARE(Stored("Port").toInt(), busy.port); // kept as asked, for the next start

            // Another port from the same dialog serves.
            OpenRemoteMonitoring(*frame, [&](QWidget* dialog) {
                status = Text(dialog, "labelStatus");
                Type(dialog, "editPort", "0");
                Click(dialog, "buttonOk");
            });
            QCOMPARE(status, "Not serving: " + told); // what the window does still
            QVERIFY(frame->MetricsServer().IsServing());
            QCOMPARE(m_messages.size(), 1);
        }
        QSettings("Kelvarin", "Kelvarin").setValue("Metrics/Port", busy.port);
        m_messages.clear();
        auto frame = StartWindow(); // the list of start-up comes after the message
        QVERIFY(!QTest::currentTestFailed());
        QCOMPARE(m_messages, QStringList{told});
        QVERIFY(!frame->MetricsServer().IsServing());
        QCOMPARE(frame->MetricsNow().error, told.toStdString());
        QCOMPARE(frame->StatusText(), QString("Disconnected"));    // the window goes on
        QVERIFY(Contains(Page(busy.port), "kelvarin_build_info")); // the holder still serves
    }

    // --metrics serves for this run on its address and port, with the profile's password, and
    // stores nothing.
    void theCommandLineOverridesTheProfile() {
        const std::string auth = g_home.Path() + "/metrics-auth";
        {
            QFile file(QString::fromStdString(auth));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("user:secret\n");
            file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        }
        WriteMetricsSettings({true, {"::1", 1, auth, ""}});
        MetricsEndpoint commandLine;
        commandLine.port = 0;
        auto frame = StartWindow(commandLine);
        QVERIFY(!QTest::currentTestFailed());
        QVERIFY(m_messages.isEmpty());
        const int port = frame->MetricsServer().Port();
        QCOMPARE(frame->MetricsServer().Url(),
                 "http://127.0.0.1:" + std::to_string(port) + "/metrics");
        QCOMPARE(HttpGet(port, "/metrics").status, 401);
        const HttpAnswer page =
            HttpGet(port, "/metrics", "Authorization: Basic dXNlcjpzZWNyZXQ=\r\n");
        QCOMPARE(page.status, 200);
        QVERIFY(Contains(page.body, "kelvarin_build_info"));
        QCOMPARE(Stored("Address").toString(), QString("::1"));
        QCOMPARE(Stored("Port").toInt(), 1);

        // The dialog shows the settings of this run; OK keeps serving them and leaves the
        // profile as it was, and only a field the user changes goes into the profile.
        QString shown;
        OpenRemoteMonitoring(*frame, [&](QWidget* dialog) {
            shown = Text(dialog, "editAddress") + " " + Text(dialog, "editPort");
            Click(dialog, "buttonOk");
        });
        QCOMPARE(shown, QString("127.0.0.1 0"));
        QCOMPARE(frame->MetricsServer().Port(), port);
        QCOMPARE(Stored("Address").toString(), QString("::1"));
        QCOMPARE(Stored("Port").toInt(), 1);
        QCOMPARE(Stored("AuthFile").toString(), QString::fromStdString(auth));
        OpenRemoteMonitoring(*frame, [&](QWidget* dialog) {
            Type(dialog, "editAuthFile", "");
            Click(dialog, "buttonOk");
        });
        QCOMPARE(HttpGet(frame->MetricsServer().Port(), "/metrics").status, 200);
        QCOMPARE(Stored("Address").toString(), QString("::1"));
        QCOMPARE(Stored("Port").toInt(), 1);
        QCOMPARE(Stored("AuthFile").toString(), QString());

        // A damaged profile port is refused, not cut to another port.
        frame.reset();
        QSettings("Kelvarin", "Kelvarin").setValue("Metrics/Port", 65536 + 8080);
        frame = StartWindow();
        QVERIFY(!QTest::currentTestFailed());
        QCOMPARE(m_messages, QStringList{"Cannot serve metrics on [::1]:73616: \"73616\" is not "
                                         "a port number (0 to 65535)"});
        QVERIFY(!frame->MetricsServer().IsServing());
    }

    // Position 1 is the window's first channel; the runs it starts are counted.
    void thePageShowsTheWindowsChannelsAndAcquisitions() {
        CMeterSimulator meter(SteadyProfile("KLV-MET", "KV7001", 20, 2.5e-3));
        std::string error;
        QVERIFY2(meter.Start(error), error.c_str());
        qputenv("KELVARIN_PORTS", QByteArray::fromStdString(meter.PortPath()));
        MetricsEndpoint commandLine;
        commandLine.port = 0;
        auto frame = StartWindow(commandLine);
        qunsetenv("KELVARIN_PORTS");
        QVERIFY(!QTest::currentTestFailed());
        const bool read =
            QTest::qWaitFor([&] { return frame->GetChannel(0).ReadingCount() > 0; }, 15000);
        std::string told; // what the list and the meter saw, when it did not read
        for (const CChannelConfig& row : frame->m_dlgAutoDetect.m_pConfigs)
            told += "row " + row.m_strPort + " [" + row.m_strName + "] [" + row.m_strSerial + "]; ";
        told += ReceivedText(meter);
        told += "; state " + std::to_string(static_cast<int>(frame->GetChannel(0).State()));
        QVERIFY2(read, told.c_str());
        const int port = frame->MetricsServer().Port();
        const std::string labels = "{position=\"1\",serial=\"KV7001\",title=\"Position_1\"}";
        std::string page = Page(port);
        QVERIFY2(Contains(page, "kelvarin_meter_up" + labels + " 1"), page.c_str());
        QVERIFY(Contains(page, "kelvarin_power_watts" + labels + " 0.0025"));
        QCOMPARE(Value(page, "kelvarin_acquisition_running"), 0.0);

        CAcquisitionPlan plan = frame->Station().Plan();
        plan.m_strAcqBaseName = g_home.Path() + "/run";
        plan.m_nDuration = 60;
        frame->Station().SetPlan(plan, std::time(nullptr));
        frame->OnCommand(Command::StartAcquisition);
        QVERIFY(frame->Station().IsAcquiring());
        QTRY_COMPARE_WITH_TIMEOUT(Value(Page(port), "kelvarin_acquisition_running"), 1.0, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(Value(Page(port), "kelvarin_acquisition_lines_total") >= 2.0,
                                 10000);
        frame->OnCommand(Command::StopAcquisition);
        QCOMPARE(Value(Page(port), "kelvarin_acquisition_running"), 0.0);
        QVERIFY(m_messages.isEmpty());
    }
};

QTEST_MAIN(MetricsDlgTest)
#include "MetricsDlgTest.moc"

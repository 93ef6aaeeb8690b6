// The auto-detection dialog against simulated meters: what the probe lists, the order given by
// stored positions, later showings that probe nothing, reordering by double-click, and damaged
// configuration files.

#include "detectors/AutoDetectDlg.h"
#include "detectors/ChannelConfigFile.h"
#include "detectors/PositionDlg.h"
#include "gui/MessageBox.h"
#include "link/ComAccess.h"
#include "sim/MeterSimulator.h"
#include "support/TempHome.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

namespace {

// Before main, so that nothing ever reads the real home folder or settings.
TempHome home;

using Meters = std::vector<std::unique_ptr<CMeterSimulator>>;

// Starts the meters of the default profiles given; the first one may get a fault.
Meters StartMeters(const std::vector<int>& indexes, MeterFault firstFault = MeterFault::None) {
    Meters meters;
    std::string ports, error;
    for (int index : indexes) {
        meters.push_back(std::make_unique<CMeterSimulator>(DefaultMeterProfile(index)));
        if (!meters.back()->Start(error))
            qFatal("meter simulator: %s", error.c_str());
        ports += (ports.empty() ? "" : ":") + meters.back()->PortPath();
    }
    meters.front()->SetFault(firstFault);
    qputenv("KELVARIN_PORTS", QByteArray::fromStdString(ports));
    return meters;
}

std::string Serial(int profile) {
    return DefaultMeterProfile(profile).serialReply.substr(4);
}

void Store(int profile, int position, const std::string& title) {
    CChannelConfig config;
    config.m_nPosition = position;
    config.m_strTitle = title;
    std::string error;
    QVERIFY2(SaveChannelConfigFile(Serial(profile), config, error), error.c_str());
}

QPushButton* Ok(QDialog& dialog) {
    return dialog.findChild<QPushButton*>("buttonOk");
}

// Position, port, name, serial and title of a row.
QStringList Row(CAutoDetectDlg& dialog, int row) {
    auto* list = dialog.findChild<QTableWidget*>("listDetectors");
    QStringList texts;
    for (int column = 0; column < CAutoDetectDlg::kColumnCount; ++column)
        texts << (list->item(row, column) ? list->item(row, column)->text() : "<none>");
    return texts;
}
QStringList Row(const char* position, const std::string& port, const char* name, const char* serial,
                const char* title) {
    return {position, QString::fromStdString(port), name, serial, title};
}

bool ShowAndProbe(CAutoDetectDlg& dialog) {
    dialog.show();
    return QTest::qWaitFor([&] { return Ok(dialog)->isEnabled(); }, 60000);
}

// Double-clicks a row and answers the position dialog with `text` and OK, or cancels it when
// `text` is null.
void ChoosePosition(CAutoDetectDlg& dialog, int row, const QString& text) {
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* position = qobject_cast<CPositionDlg*>(QApplication::activeModalWidget());
        if (!position)
            return;
        answer.stop();
        if (text.isNull())
            return position->reject();
        auto* edit = position->findChild<QLineEdit*>("editPosition");
        edit->clear();
        QTest::keyClicks(edit, text);
        QTest::mouseClick(Ok(*position), Qt::LeftButton);
    });
    answer.start(20);
    auto* list = dialog.findChild<QTableWidget*>("listDetectors");
    const QPoint at = list->visualItemRect(list->item(row, CAutoDetectDlg::kColName)).center();
    // A view takes a double click only on the item it saw pressed, as a real mouse sends it.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at);
}

} // namespace

class AutoDetectDlgTest : public QObject {
    Q_OBJECT

    QStringList m_messages;

private slots:
    void initTestCase() {
        qputenv("KELVARIN_PORTS_ONLY", "1"); // never a meter of the machine's own
        SetMessageInterceptor([this](const QString& text) { m_messages << text; });
    }
    void init() {
        m_messages.clear();
        std::error_code ec;
        std::filesystem::remove_all(ConfigFolder(), ec);
    }

    // Every port at once: the one that answered shows its meter, the others keep empty rows in
    // the system's order, and the ports the system refused are named in one message with the
    // reason, once the list is final.
    void onlyAnsweringMetersShowNameAndSerial() {
        Meters meters = StartMeters({1, 0}, MeterFault::Silence);
        const std::string missing = home.Path() + "/no-such-port";
        const std::string locked = "/dev/kv-locked";
        ComAccess::InjectOpenFailure(locked, EACCES);
        qputenv("KELVARIN_PORTS",
                qgetenv("KELVARIN_PORTS") + ":" + missing.c_str() + ":" + locked.c_str());

        CAutoDetectDlg dialog;
        dialog.show();
        QVERIFY(!Ok(dialog)->isEnabled()); // the list is not final before the probe
        QVERIFY(ShowAndProbe(dialog));
        // The meter that answered; the others keep their port order (the system's own ports
        // may follow).
        QCOMPARE(Row(dialog, 0), Row("-1", meters[0]->PortPath(), "", "", ""));
        QCOMPARE(Row(dialog, 1), Row("-1", meters[1]->PortPath(), "KLV-10W", "KV2401", ""));
        QCOMPARE(Row(dialog, 2), Row("-1", missing, "", "", ""));
        QCOMPARE(Row(dialog, 3), Row("-1", locked, "", "", ""));
        QCOMPARE(dialog.m_nPortCount, 4);
        QCOMPARE(dialog.m_nPortCount, int(dialog.m_pConfigs.size()));
        QCOMPARE(dialog.m_pConfigs[1].m_strSerial, Serial(0));
        QCOMPARE(dialog.m_pConfigs[1].m_strPort, meters[1]->PortPath());
        QVERIFY(dialog.m_pConfigs[0].m_strSerial.empty());
        const QString open = QStringLiteral(
            ": cannot open the port: Open(): CreateFile() failed, invalid handle value\r\n: ");
        QCOMPARE(m_messages,
                 QStringList{QString::fromStdString(missing) + open +
                             "(2) No such file or directory\n" + QString::fromStdString(locked) +
                             open + "(13) Permission denied\n" +
                             "Your user account must belong to the group that owns " +
                             QString::fromStdString(locked) +
                             " (\"dialout\"; typically dialout): run 'sudo usermod -aG dialout "
                             "$USER', then log out and in again."});
        ComAccess::InjectOpenFailure(locked, 0);

        QTest::mouseClick(Ok(dialog), Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }

    void storedPositionsOrderTheListAcrossShowings() {
        Meters meters = StartMeters({2, 3});
        Store(2, 4, "Left");
        Store(3, 1, "Right");
        const QStringList first = Row("1", meters[1]->PortPath(), "KLV-30M", "KV2404", "Right");
        const QStringList second = Row("4", meters[0]->PortPath(), "KLV-300M", "KV2403", "Left");

        CAutoDetectDlg dialog;
        QTimer accept;
        QObject::connect(&accept, &QTimer::timeout, [&] {
            if (dialog.isVisible() && Ok(dialog)->isEnabled())
                Ok(dialog)->click();
        });
        accept.start(20);
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        accept.stop();
        QCOMPARE(Row(dialog, 0), first);
        QCOMPARE(Row(dialog, 1), second);
        QCOMPARE(dialog.m_pConfigs[0].m_strSerial, Serial(3));
        QCOMPARE(dialog.m_pConfigs[0].m_nPosition, 1);
        QCOMPARE(dialog.m_pConfigs[1].m_strPort, meters[0]->PortPath());

        // A later showing asks no meter anything and keeps each port beside its own serial
        // number, although the ports are listed in the other order. Closing it cancels.
        const size_t heard = meters[0]->ReceivedBytes().size() + meters[1]->ReceivedBytes().size();
        QTimer::singleShot(300, &dialog, [&] { dialog.close(); });
        QCOMPARE(dialog.exec(), int(QDialog::Rejected));
        QCOMPARE(meters[0]->ReceivedBytes().size() + meters[1]->ReceivedBytes().size(), heard);
        QCOMPARE(Row(dialog, 0), first);
        QCOMPARE(Row(dialog, 1), second);
        QCOMPARE(dialog.m_pConfigs[0].m_strPort, meters[1]->PortPath());
    }

    void doubleClickChoosesAPosition() {
        Meters meters = StartMeters({4, 5, 6});
        Store(4, 2, "A");
        Store(5, 5, "B");
        CAutoDetectDlg dialog;
        QVERIFY(ShowAndProbe(dialog));
        const QStringList b = Row(dialog, 1);
        QCOMPARE(b, Row("5", meters[1]->PortPath(), "KLV-PD300U", "KV2406", "B"));

        ChoosePosition(dialog, 1, QString()); // cancelled: nothing changes
        QCOMPARE(dialog.m_nSelectedRow, 1);
        QCOMPARE(Row(dialog, 1), b);

        // 0 moves the detector above the one of position 2; unplaced ones stay last.
        ChoosePosition(dialog, 1, "0");
        QCOMPARE(Row(dialog, 0), Row("0", meters[1]->PortPath(), "KLV-PD300U", "KV2406", "B"));
        QCOMPARE(Row(dialog, 1)[4], QString("A"));
        QCOMPARE(Row(dialog, 2)[3], QString("KV2407"));
        QCOMPARE(dialog.m_pConfigs[0].m_strSerial, Serial(5));
        QCOMPARE(dialog.m_pConfigs[0].m_nPosition, 0);

        // A detector without a stored position placed at 1 goes between 0 and 2.
        ChoosePosition(dialog, 2, "1");
        QCOMPARE(Row(dialog, 1)[3], QString("KV2407"));
        QCOMPARE(dialog.m_pConfigs[1].m_nPosition, 1);
        QCOMPARE(dialog.m_pConfigs[2].m_strSerial, Serial(4));
    }

    void damagedStoredFileIsReportedOnceAndTheMeterStaysListed() {
        Meters meters = StartMeters({7});
        const std::string path = ConfigFilePath(Serial(7));
        std::filesystem::create_directories(ConfigFolder());
        std::ofstream(path, std::ios::binary) << "abc";

        for (int showing = 0; showing < 2; ++showing) {
            CAutoDetectDlg dialog; // a new object reads the file again
            QVERIFY(ShowAndProbe(dialog));
            QCOMPARE(Row(dialog, 0), Row("-1", meters[0]->PortPath(), "KLV-PD3U", "KV2408", ""));
            QCOMPARE(dialog.m_pConfigs[0].m_nPosition, -1);
        }
        QCOMPARE(m_messages.size(), 1);
        QVERIFY2(m_messages[0].contains(QString::fromStdString(path)), qPrintable(m_messages[0]));
    }
};

QTEST_MAIN(AutoDetectDlgTest)
#include "AutoDetectDlgTest.moc"

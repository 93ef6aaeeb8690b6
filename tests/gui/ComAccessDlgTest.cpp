// The port selection dialog driven as a user would: preselection from the profile, opening the
// chosen pseudo-terminal, a port held elsewhere, OK with nothing selected, and a typed URL.

#include "detectors/ComAccessDlg.h"
#include "gui/MessageBox.h"
#include "settings/ProfileStore.h"
#include "support/PtyPair.h"
#include "support/Ser2Net.h"
#include "support/TcpListener.h"
#include "support/TempHome.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <cstdlib>
#include <memory>

namespace {

// Before main, so that QSettings never sees the real configuration folder.
TempHome home;

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

class ComAccessDlgTest : public QObject {
    Q_OBJECT

private:
    PtyPair m_first;
    PtyPair m_second;
    QStringList m_messages;

    static QString Profile() { return ReadProfileString("SerialCom", "Com"); }

    // Shown without blocking; the caller clicks.
    static std::unique_ptr<CComAccessDlg> Show() {
        auto dialog = std::make_unique<CComAccessDlg>();
        dialog->show();
        return dialog;
    }
    static void Click(CComAccessDlg& dialog, const char* button) {
        QTest::mouseClick(dialog.findChild<QPushButton*>(button), Qt::LeftButton);
    }
    static QComboBox* Combo(CComAccessDlg& dialog) {
        return dialog.findChild<QComboBox*>("comboPort");
    }

private slots:
    void initTestCase() {
        QVERIFY(m_first.Ok() && m_second.Ok());
        setenv("KELVARIN_PORTS", (m_first.SlavePath() + ":" + m_second.SlavePath()).c_str(), 1);
        setenv("KELVARIN_PORTS_ONLY", "1", 1); // never a meter of the machine's own
        SetMessageInterceptor([this](const QString& text) { m_messages << text; });
    }
    void init() { m_messages.clear(); }

    void preselectsLastPortOrFirst() {
        WriteProfileString("SerialCom", "Com", Q(m_second.SlavePath()).toUpper());
        auto dialog = Show();
        QComboBox* combo = Combo(*dialog);
        QCOMPARE(combo->itemText(0), Q(m_first.SlavePath()));
        QCOMPARE(combo->itemText(1), Q(m_second.SlavePath()));
        QCOMPARE(combo->currentIndex(), 1);

        // Cancel leaves port and profile alone; the next showing sees the profile anew.
        Click(*dialog, "buttonCancel");
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
        QVERIFY(!dialog->IsOpen());
        WriteProfileString("SerialCom", "Com", "/dev/gone");
        dialog->show();
        QCOMPARE(combo->currentIndex(), 0);
        QCOMPARE(Profile(), QString("/dev/gone"));
    }

    void openingAcceptsAndRemembersThePort() {
        WriteProfileString("SerialCom", "Com", Q(m_first.SlavePath()));
        auto dialog = Show();
        QTest::keyClick(Combo(*dialog), Qt::Key_Down);
        Click(*dialog, "buttonOk");
        QVERIFY(m_messages.isEmpty());
        QVERIFY(dialog->result() == QDialog::Accepted && dialog->IsOpen());
        QCOMPARE(dialog->m_strPort, m_second.SlavePath());
        QCOMPARE(Profile(), Q(m_second.SlavePath()));
    }

    void portHeldElsewhereShowsItsErrorAndCancels() {
        ComAccess holder;
        QVERIFY(holder.Open(m_second.SlavePath(), ComAccess::kMeterBaudRate));
        WriteProfileString("SerialCom", "Com", Q(m_first.SlavePath()));
        auto dialog = Show();
        QTest::keyClick(Combo(*dialog), Qt::Key_Down);
        Click(*dialog, "buttonOk");
        QCOMPARE(m_messages, QStringList{"Open(): CreateFile() failed, invalid handle value\r\n"
                                         ": (16) Device or resource busy\n"});
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
        QVERIFY(!dialog->isVisible() && !dialog->IsOpen());
        QCOMPARE(Profile(), Q(m_first.SlavePath()));
    }

    void typedTextNamingNoPortKeepsTheDialogOpen() {
        auto dialog = Show();
        QComboBox* combo = Combo(*dialog);
        combo->lineEdit()->clear();
        QTest::keyClicks(combo, "nowhere");
        Click(*dialog, "buttonOk");
        QCOMPARE(m_messages, QStringList{"No serial port selected."});
        QVERIFY(dialog->isVisible() && !dialog->IsOpen());
        QCOMPARE(combo->findText("nowhere"), -1); // typed text never becomes an item
    }

    // A URL may be typed: one that is not well formed is told before any connection and the
    // dialog stays; a server that takes its time is waited for while the window goes on, and
    // the dialog takes no OK meanwhile; a server that answers is opened and remembered.
    void aTypedUrlIsCheckedThenOpenedWhileTheWindowGoesOn() {
        auto dialog = Show();
        QComboBox* combo = Combo(*dialog);
        const auto typeIn = [combo](const std::string& text) {
            combo->lineEdit()->clear();
            QTest::keyClicks(combo, Q(text));
        };
        typeIn("rfc2217://lab-7");
        Click(*dialog, "buttonOk");
        QCOMPARE(m_messages, QStringList{"rfc2217://lab-7: no port (HOST:PORT)"});
        QVERIFY(dialog->isVisible() && !dialog->IsOpen());

        TcpListener silent; // the system accepts the connection; nobody answers the telnet
        const std::string url = "rfc2217://127.0.0.1:" + std::to_string(silent.Port());
        typeIn(url);
        m_messages.clear();
        int ticks = 0;
        QTimer beat;
        connect(&beat, &QTimer::timeout, [&] {
            if (++ticks == 5) {
                QVERIFY(!dialog->isEnabled());
                dialog->accept(); // refused while the open is under way
            }
        });
        beat.start(50);
        Click(*dialog, "buttonOk"); // returns once the server has been given up
        beat.stop();
        QVERIFY2(ticks >= 40, qPrintable(QString::number(ticks)));
        QCOMPARE(m_messages, QStringList{Q("127.0.0.1:" + std::to_string(silent.Port()) +
                                           ": no answer to the COM-PORT-OPTION (RFC 2217) "
                                           "within 3 s\n")});
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
        QVERIFY(!dialog->IsOpen() && dialog->isEnabled());

        if (!HasSer2Net())
            QSKIP("no ser2net on PATH");
        Ser2Net server(home.Path(), m_first.SlavePath(), 0, true);
        QVERIFY2(server.WaitReady(), server.Errors().c_str());
        dialog->show();
        m_messages.clear();
        typeIn(server.Url());
        Click(*dialog, "buttonOk");
        QVERIFY(m_messages.isEmpty());
        QVERIFY(dialog->result() == QDialog::Accepted && dialog->IsOpen());
        QCOMPARE(dialog->m_strPort, server.Url());
        QCOMPARE(Profile(), Q(server.Url()));
        dialog->Close();
    }
};

QTEST_MAIN(ComAccessDlgTest)
#include "ComAccessDlgTest.moc"

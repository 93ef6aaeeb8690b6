// The detector, position and scale dialogs driven through their real controls.

#include "channel/ScaleSelect.h"
#include "detectors/DetectorDlg.h"
#include "detectors/PositionDlg.h"
#include "gui/MessageBox.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

class DialogsTest : public QObject {
    Q_OBJECT

private:
    QStringList m_messages;

    template <typename T> static T* Child(QWidget& dialog, const char* name) {
        T* child = dialog.findChild<T*>(QLatin1String(name));
        if (!child)
            qFatal("no control %s", name);
        return child;
    }
    static void Type(QWidget& dialog, const char* edit, const QString& text) {
        QLineEdit* line = Child<QLineEdit>(dialog, edit);
        line->selectAll();
        QTest::keyClick(line, Qt::Key_Delete);
        QTest::keyClicks(line, text);
    }
    static void Click(QWidget& dialog, const char* name) {
        QAbstractButton* button = Child<QAbstractButton>(dialog, name);
        // A check box takes clicks on its box and text only: aim at the box.
        const QPoint at = qobject_cast<QCheckBox*>(button) ? QPoint(6, button->height() / 2)
                                                           : button->rect().center();
        QTest::mouseClick(button, Qt::LeftButton, {}, at);
    }
    // OK refused: the dialog stays open and shows exactly one message.
    void ExpectRefused(QDialog& dialog, const QString& message) {
        m_messages.clear();
        Click(dialog, "buttonOk");
        QVERIFY(dialog.isVisible());
        QCOMPARE(m_messages, QStringList{message});
    }

private slots:
    void initTestCase() {
        SetMessageInterceptor([this](const QString& text) { m_messages << text; });
    }

    void detectorShowsTheRecordAndRefusesBadNames() {
        CDetectorDlg dialog;
        dialog.m_config.m_nPosition = 2;
        dialog.m_config.m_strTitle = "Bench";
        dialog.m_config.m_fGain = 1234567.0f;
        dialog.show();
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Position 2"));
        QCOMPARE(Child<QLineEdit>(dialog, "editPosition")->text(), QStringLiteral("2"));
        QVERIFY(Child<QLineEdit>(dialog, "editPosition")->isReadOnly());
        QCOMPARE(Child<QLineEdit>(dialog, "editGain")->text(), QStringLiteral("1.23457e+06"));
        QCOMPARE(Child<QLineEdit>(dialog, "editWavelength")->text(), QStringLiteral("1064"));

        Type(dialog, "editName", "");
        ExpectRefused(dialog, "A valid name is necessary to continue");
        Type(dialog, "editName", "two words");
        ExpectRefused(dialog, " \"Space\" caracter are not allowed in the name.");
        Type(dialog, "editName", " lead");
        ExpectRefused(dialog, " \"Space\" caracter are not allowed in the name.");
        // A gain that is not a number is refused first; the name checks do not run.
        Type(dialog, "editGain", "abc");
        ExpectRefused(dialog, "Please enter a number.");
        QCOMPARE(dialog.focusWidget(), Child<QLineEdit>(dialog, "editGain"));
        Type(dialog, "editGain", "2");
        Type(dialog, "editWavelength", "53.2");
        ExpectRefused(dialog, "Please enter an integer.");
    }

    void detectorOkReturnsTheEditsAndCancelNothing() {
        CChannelConfig original;
        original.m_nPosition = 5;
        original.m_strTitle = "Osc";
        CDetectorDlg dialog;
        dialog.m_config = original;
        dialog.show();
        Type(dialog, "editName", "Amplifier");
        Type(dialog, "editGain", "1.5");
        Type(dialog, "editOffset", "-2e-3");
        Type(dialog, "editWavelength", "532");
        Type(dialog, "editLevelHigh", "0.25");
        Type(dialog, "editLevelLow", "0.1");
        Click(dialog, "checkAnticipation"); // on by default: now off
        m_messages.clear();
        Click(dialog, "buttonOk");
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(m_messages.isEmpty());
        QCOMPARE(dialog.m_config.m_strTitle, std::string("Amplifier"));
        QCOMPARE(dialog.m_config.m_fGain, 1.5f);
        QCOMPARE(dialog.m_config.m_fOffset, -2e-3f);
        QCOMPARE(dialog.m_config.m_nWavelength, 532);
        QCOMPARE(dialog.m_config.m_fLevelHigh, 0.25f);
        QCOMPARE(dialog.m_config.m_fLevelLow, 0.1f);
        QCOMPARE(dialog.m_config.m_bAnticipation, false);
        QCOMPARE(dialog.m_config.m_nPosition, 5);

        CDetectorDlg cancelled;
        cancelled.m_config = original;
        cancelled.show();
        Type(cancelled, "editName", "Changed");
        Click(cancelled, "buttonCancel");
        QCOMPARE(cancelled.result(), int(QDialog::Rejected));
        QCOMPARE(original.m_strTitle, std::string("Osc"));
    }

    void positionAcceptsZeroToEight() {
        CPositionDlg dialog;
        dialog.m_nPosition = -1;
        dialog.show();
        QCOMPARE(Child<QLineEdit>(dialog, "editPosition")->text(), QStringLiteral("-1"));
        ExpectRefused(dialog, "Please enter an integer between 0 and 8.");
        Type(dialog, "editPosition", "9");
        ExpectRefused(dialog, "Please enter an integer between 0 and 8.");
        Type(dialog, "editPosition", "x");
        ExpectRefused(dialog, "Please enter an integer.");
        for (const char* accepted : {"0", "8"}) {
            CPositionDlg ok;
            ok.show();
            Type(ok, "editPosition", accepted);
            Click(ok, "buttonOk");
            QCOMPARE(ok.result(), int(QDialog::Accepted));
            QCOMPARE(ok.m_nPosition, QString(accepted).toInt());
        }
    }

    void scaleShortcutsEnablingAndChecks() {
        CScaleSelect dialog;
        dialog.m_bAutoX = true;
        dialog.m_bAutoY = true;
        dialog.m_fMinY = 0.5f;
        dialog.m_fMaxY = 1.0f;
        dialog.m_fLevelHigh = 2.0f;
        dialog.m_fLevelLow = 1.0f;
        dialog.show();
        QLineEdit* minY = Child<QLineEdit>(dialog, "editMinY");
        QLineEdit* maxY = Child<QLineEdit>(dialog, "editMaxY");
        QVERIFY(!minY->isEnabled() && !maxY->isEnabled());
        Click(dialog, "checkAutoY");
        QVERIFY(!dialog.m_bAutoY);
        QVERIFY(minY->isEnabled() && maxY->isEnabled());

        // A minimum typed before a shortcut gives way to the member the dialog held.
        Type(dialog, "editMinY", "0.7");
        Click(dialog, "buttonLevelHigh");
        QCOMPARE(dialog.m_fMaxY, 2.1f);
        QCOMPARE(maxY->text(), QStringLiteral("2.1"));
        QCOMPARE(minY->text(), QStringLiteral("0.5"));
        Click(dialog, "buttonLevelLow");
        QCOMPARE(dialog.m_fMinY, 0.9f);
        QVERIFY(!Child<QCheckBox>(dialog, "checkAutoY")->isChecked());

        Type(dialog, "editMaxY", "0.9");
        ExpectRefused(dialog, "Select a Y maximum value greater than the Y minimum value.");
        // With "Auto Y" ticked any values pass.
        Click(dialog, "checkAutoY");
        Click(dialog, "buttonOk");
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(dialog.m_bAutoY);
    }

    void scaleTimeRangeCanOnlyBeCancelled() {
        CScaleSelect dialog;
        dialog.m_fMinY = 0.0f;
        dialog.m_fMaxY = 1.0f;
        dialog.m_fMinX = 5.0f;
        dialog.m_fMaxX = 5.0f; // no time control to correct it
        dialog.show();
        ExpectRefused(dialog, "Select a X maximum value greater than the X minimum value.");
        ExpectRefused(dialog, "Select a X maximum value greater than the X minimum value.");
        Click(dialog, "buttonCancel");
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }
};

QTEST_MAIN(DialogsTest)
#include "DialogsTest.moc"

// "Acquisition" parameters: the range and integer messages, the enabling of the two groups, the
// three click rules of the mode boxes and the browse button, and the copy back on OK.

#include "acquisition/DataSamplingDlg.h"
#include "acquisition/SelectDialog.h"
#include "gui/MessageBox.h"
#include "support/TempHome.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimeEdit>
#include <QtTest>

namespace {

TempHome g_home; // the file chooser remembers folders in the settings

template <class T> T* Child(QWidget* dialog, const char* name) {
    return dialog->findChild<T*>(QLatin1String(name));
}

void Type(QWidget* dialog, const char* edit, const QString& text) {
    auto* field = Child<QLineEdit>(dialog, edit);
    field->clear();
    QTest::keyClicks(field, text);
}

void Click(QWidget* widget) {
    QTest::mouseClick(widget, Qt::LeftButton, {}, QPoint(6, widget->height() / 2));
}

} // namespace

class DataSamplingDlgTest : public QObject {
    Q_OBJECT

    QStringList m_messages;

    // A dialog as the frame opens it: period 1 s, 60 s by period, a window starting now.
    static void Fill(CDataSamplingDlg& dialog, std::time_t now) {
        dialog.m_nSamplingPeriod = 1;
        dialog.m_strFile = "/data/run";
        dialog.m_nDuration = 60;
        dialog.m_bByTime = false;
        dialog.m_bByPeriod = true;
        dialog.m_timeAcqStart = now;
        dialog.m_timeAcqEnd = now;
    }

private slots:
    void initTestCase() {
        SetMessageInterceptor([this](const QString& text) { m_messages << text; });
    }
    void init() { m_messages.clear(); }

    void periodAndDurationAreCheckedWithTheirMessages() {
        CDataSamplingDlg dialog;
        Fill(dialog, std::time(nullptr));
        dialog.show();
        QCOMPARE(Child<QLineEdit>(&dialog, "editPeriod")->text(), QString("1"));
        QCOMPARE(Child<QLineEdit>(&dialog, "editFile")->text(), QString("/data/run"));
        Type(&dialog, "editPeriod", "0");
        Click(Child<QPushButton>(&dialog, "buttonOk"));
        QCOMPARE(m_messages, QStringList{"Please enter an integer between 1 and 2147483647."});
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.focusWidget(), Child<QLineEdit>(&dialog, "editPeriod"));

        m_messages.clear();
        Type(&dialog, "editPeriod", "5");
        Type(&dialog, "editDuration", "ten");
        Click(Child<QPushButton>(&dialog, "buttonOk"));
        QCOMPARE(m_messages, QStringList{"Please enter an integer."});
        QVERIFY(dialog.isVisible());

        m_messages.clear();
        Type(&dialog, "editDuration", "120");
        Type(&dialog, "editFile", "/data/bench 2");
        Click(Child<QPushButton>(&dialog, "buttonOk"));
        QVERIFY(m_messages.isEmpty());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.m_nSamplingPeriod, 5);
        QCOMPARE(dialog.m_nDuration, 120);
        QCOMPARE(dialog.m_strFile, std::string("/data/bench 2"));
        QVERIFY(!dialog.m_bByTime);
    }

    void theModeBoxesActAsAPairAndEnableTheirGroups() {
        CDataSamplingDlg dialog;
        Fill(dialog, std::time(nullptr));
        dialog.show();
        auto* byPeriod = Child<QCheckBox>(&dialog, "checkByPeriod");
        auto* byTime = Child<QCheckBox>(&dialog, "checkByTime");
        const auto enabled = [&] {
            return QString("%1%2%3%4%5")
                .arg(Child<QLineEdit>(&dialog, "editDuration")->isEnabled())
                .arg(Child<QDateEdit>(&dialog, "dateStart")->isEnabled())
                .arg(Child<QTimeEdit>(&dialog, "timeStart")->isEnabled())
                .arg(Child<QDateEdit>(&dialog, "dateEnd")->isEnabled())
                .arg(Child<QTimeEdit>(&dialog, "timeEnd")->isEnabled());
        };
        QCOMPARE(enabled(), QString("10000"));
        QVERIFY(byPeriod->isChecked() && !byTime->isChecked());

        // By period again: what was typed goes back to the member's value.
        Type(&dialog, "editPeriod", "7");
        Click(byPeriod);
        QCOMPARE(Child<QLineEdit>(&dialog, "editPeriod")->text(), QString("1"));
        QVERIFY(byPeriod->isChecked() && !byTime->isChecked());

        // By time: what was typed is kept.
        Type(&dialog, "editPeriod", "7");
        Click(byTime);
        QCOMPARE(Child<QLineEdit>(&dialog, "editPeriod")->text(), QString("7"));
        QVERIFY(!byPeriod->isChecked() && byTime->isChecked());
        QCOMPARE(enabled(), QString("01111"));
        QVERIFY(m_messages.isEmpty());

        // A refused field is said, and the switch is made all the same.
        Click(byPeriod);
        Type(&dialog, "editPeriod", "0");
        Click(byTime);
        QCOMPARE(m_messages, QStringList{"Please enter an integer between 1 and 2147483647."});
        QVERIFY(byTime->isChecked() && !byPeriod->isChecked());
        QCOMPARE(enabled(), QString("01111"));
    }

    void theWindowIsSplitIntoThePickersAndCombinedOnOk() {
        CDataSamplingDlg dialog;
        const std::time_t start = CombineLocalTime(QDate(2026, 3, 25), QTime(14, 5, 9));
        Fill(dialog, start);
        dialog.m_timeAcqEnd = start + 3600;
        dialog.show();
        QCOMPARE(Child<QDateEdit>(&dialog, "dateStart")->date(), QDate(2026, 3, 25));
        QCOMPARE(Child<QTimeEdit>(&dialog, "timeStart")->time(), QTime(14, 5, 9));
        QCOMPARE(Child<QTimeEdit>(&dialog, "timeEnd")->time(), QTime(15, 5, 9));
        Click(Child<QCheckBox>(&dialog, "checkByTime"));
        Child<QDateEdit>(&dialog, "dateEnd")->setDate(QDate(2026, 3, 26));
        Child<QTimeEdit>(&dialog, "timeEnd")->setTime(QTime(8, 0, 0));
        Click(Child<QPushButton>(&dialog, "buttonOk"));
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(dialog.m_bByTime && !dialog.m_bByPeriod);
        QCOMPARE(dialog.m_timeAcqStart, start);
        QCOMPARE(dialog.m_timeAcqEnd, CombineLocalTime(QDate(2026, 3, 26), QTime(8, 0, 0)));
    }

    void browseSetsThePrefixAndRefreshesEveryField() {
        CDataSamplingDlg dialog;
        Fill(dialog, std::time(nullptr));
        dialog.show();
        QTemporaryDir folder;
        QString title;
        QTimer::singleShot(50, [&] {
            auto* chooser = qobject_cast<CSelectDialog*>(QApplication::activeModalWidget());
            QVERIFY(chooser);
            title = chooser->windowTitle();
            chooser->setDirectory(folder.path());
            QTest::keyClicks(chooser->findChild<QLineEdit*>("fileNameEdit"), "laser");
            QTest::mouseClick(
                chooser->findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Open),
                Qt::LeftButton);
        });
        Type(&dialog, "editPeriod", "9"); // replaced by the member's value after the browse
        Click(Child<QPushButton>(&dialog, "buttonBrowse"));
        QCOMPARE(title, QString("Specify a name and a location for your acquisition file"));
        QCOMPARE(Child<QLineEdit>(&dialog, "editFile")->text(), folder.filePath("laser"));
        QCOMPARE(Child<QLineEdit>(&dialog, "editPeriod")->text(), QString("1"));
    }
};

QTEST_MAIN(DataSamplingDlgTest)
#include "DataSamplingDlgTest.moc"

// The relabelled file chooser: a name that does not exist yet is taken, and no type list shows.

#include "acquisition/SelectDialog.h"
#include "support/TempHome.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Before main: the dialog remembers its folders in the user's settings, which must stay untouched.
TempHome home;

} // namespace

class SelectDialogTest : public QObject {
    Q_OBJECT

private:
    static QPushButton* AcceptButton(CSelectDialog& dialog) {
        return dialog.findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Open);
    }

private slots:
    void relabelledWithoutTypeList() {
        CSelectDialog dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(AcceptButton(dialog)->text(), QString("Select"));
        QCOMPARE(dialog.findChild<QLabel*>("fileNameLabel")->text(), QString("Title:"));
        QVERIFY(!dialog.findChild<QComboBox*>("fileTypeCombo")->isVisible());
        QVERIFY(!dialog.findChild<QLabel*>("fileTypeLabel")->isVisible());
        QVERIFY(dialog.nameFilters().join(';').contains('*'));
    }

    void newFileNameInExistingFolderIsSelected() {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        CSelectDialog dialog;
        dialog.setWindowTitle("Specify a name and a location for your acquisition file");
        dialog.setDirectory(folder.path());
        dialog.show();
        QTest::keyClicks(dialog.findChild<QLineEdit*>("fileNameEdit"), "run 1.dat");
        QCOMPARE(AcceptButton(dialog)->text(), QString("Select"));
        QTest::mouseClick(AcceptButton(dialog), Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.GetPathName(), folder.filePath("run 1.dat"));
        QVERIFY(!QFile::exists(dialog.GetPathName()));
    }
};

QTEST_MAIN(SelectDialogTest)
#include "SelectDialogTest.moc"

#include "capture/CaptureEcran.h"

#include "acquisition/SelectDialog.h"
#include "gui/DataExchange.h"
#include "gui/DialogButtons.h"

#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CCaptureEcran::CCaptureEcran(QWidget* parent) : QDialog(parent), m_strFile("c:\\CaptureScreen") {
    setObjectName(QStringLiteral("CaptureEcran"));
    setWindowTitle(QStringLiteral("Screenshot"));
    m_editFile = new QLineEdit;
    m_editFile->setObjectName(QStringLiteral("editFile"));
    m_editFile->setMinimumWidth(190);
    m_buttonBrowse = new QPushButton(QStringLiteral("..."));
    m_buttonBrowse->setObjectName(QStringLiteral("buttonBrowse"));
    m_buttonBrowse->setFixedWidth(36);
    auto* note = new QLabel(QStringLiteral("Note: \nSpecify a name and a location for your "
                                           "screenshot file. The date and time will be appended "
                                           "to the filename."));
    note->setObjectName(QStringLiteral("labelNote"));
    note->setWordWrap(true);
    m_buttonOk = MakeOkButton();
    m_buttonCancel = MakeCancelButton();

    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(new QLabel(QStringLiteral("File:")));
    fileRow->addWidget(m_editFile, 1);
    fileRow->setSpacing(4);
    fileRow->addWidget(m_buttonBrowse);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fileRow);
    layout->addWidget(note);
    layout->addSpacing(6);
    layout->addLayout(OkCancelRow(m_buttonOk, m_buttonCancel));
    setFixedWidth(300);

    connect(m_buttonBrowse, &QPushButton::clicked, this, &CCaptureEcran::OnBrowse);
    connect(m_buttonOk, &QPushButton::clicked, this, &CCaptureEcran::OnOK);
    connect(m_buttonCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void CCaptureEcran::showEvent(QShowEvent* event) {
    CDataExchange(this, false).Path(m_editFile, m_strFile);
    m_editFile->setFocus();
    QDialog::showEvent(event);
}

void CCaptureEcran::OnBrowse() {
    CDataExchange(this, true).Path(m_editFile, m_strFile);
    CSelectDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("Specify the name and the location for your screenshot"));
    // The prefix names files, not a folder: the chooser opens where they go.
    const QFileInfo prefix(QFile::decodeName(QByteArray::fromStdString(m_strFile)));
    dialog.setDirectory(prefix.isDir() ? prefix.filePath() : prefix.absolutePath());
    if (dialog.exec() != QDialog::Accepted)
        return;
    m_strFile = QFile::encodeName(dialog.GetPathName()).toStdString();
    CDataExchange(this, false).Path(m_editFile, m_strFile);
}

void CCaptureEcran::OnOK() {
    CDataExchange(this, true).Path(m_editFile, m_strFile);
    accept();
}

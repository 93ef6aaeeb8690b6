#include "detectors/PositionDlg.h"

#include "gui/DataExchange.h"
#include "gui/DialogButtons.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

CPositionDlg::CPositionDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("PositionDlg"));
    setWindowTitle(QStringLiteral("Position"));
    m_editPosition = new QLineEdit;
    m_editPosition->setObjectName(QStringLiteral("editPosition"));
    m_editPosition->setFixedWidth(92);
    m_buttonOk = MakeOkButton();
    m_buttonCancel = MakeCancelButton();

    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("Position:")), 0, 0);
    grid->addWidget(m_editPosition, 0, 1);
    grid->addWidget(m_buttonOk, 1, 0);
    grid->addWidget(m_buttonCancel, 1, 1);
    grid->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_buttonOk, &QPushButton::clicked, this, &CPositionDlg::OnOK);
    connect(m_buttonCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void CPositionDlg::showEvent(QShowEvent* event) {
    UpdateData(false);
    m_editPosition->setFocus();
    m_editPosition->selectAll();
    QDialog::showEvent(event);
}

bool CPositionDlg::UpdateData(bool saveAndValidate) {
    CDataExchange dx(this, saveAndValidate);
    dx.Int(m_editPosition, m_nPosition);
    dx.IntRange(m_nPosition, 0, 8);
    return !dx.Failed();
}

void CPositionDlg::OnOK() {
    if (UpdateData(true))
        accept();
}

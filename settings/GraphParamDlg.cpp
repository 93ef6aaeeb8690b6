#include "settings/GraphParamDlg.h"

#include "gui/DataExchange.h"
#include "gui/DialogButtons.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CGraphParamDlg::CGraphParamDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("GraphParamDlg"));
    setWindowTitle(QStringLiteral("Graphical Parameters"));
    m_editSize = new QLineEdit;
    m_editSize->setObjectName(QStringLiteral("editGraphSize"));
    m_editSize->setFixedWidth(114);
    m_buttonOk = MakeOkButton();
    m_buttonCancel = MakeCancelButton();

    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("Graphical Vector Size:")));
    row->addStretch(1);
    row->addWidget(m_editSize);
    auto* layout = new QVBoxLayout(this);
    layout->addSpacing(18);
    layout->addLayout(row);
    layout->addSpacing(36);
    layout->addLayout(OkCancelRow(m_buttonOk, m_buttonCancel));
    setFixedWidth(280);

    connect(m_buttonOk, &QPushButton::clicked, this, &CGraphParamDlg::OnOK);
    connect(m_buttonCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void CGraphParamDlg::showEvent(QShowEvent* event) {
    UpdateData(false);
    m_editSize->setFocus();
    QDialog::showEvent(event);
}

bool CGraphParamDlg::UpdateData(bool saveAndValidate) {
    CDataExchange dx(this, saveAndValidate);
    dx.Int(m_editSize, m_nGraphSize);
    dx.IntRange(m_nGraphSize, kMinimum, kMaximum);
    return !dx.Failed();
}

void CGraphParamDlg::OnOK() {
    if (UpdateData(true))
        accept();
}

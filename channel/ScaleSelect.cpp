#include "channel/ScaleSelect.h"

#include "gui/DataExchange.h"
#include "gui/MessageBox.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QPushButton* Button(const char* text, const char* name) {
    auto* button = new QPushButton(QLatin1String(text));
    button->setObjectName(QLatin1String(name));
    return button;
}

QLineEdit* Edit(const char* name) {
    auto* edit = new QLineEdit;
    edit->setObjectName(QLatin1String(name));
    edit->setFixedWidth(95);
    return edit;
}

} // namespace

CScaleSelect::CScaleSelect(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("ScaleSelect"));
    setWindowTitle(QStringLiteral("Selection of the Scales Parameters"));
    m_checkAutoY = new QCheckBox(QStringLiteral("Auto Y"));
    m_checkAutoY->setObjectName(QStringLiteral("checkAutoY"));
    m_editMinY = Edit("editMinY");
    m_editMaxY = Edit("editMaxY");
    m_buttonLevelLow = Button("Level Low", "buttonLevelLow");
    m_buttonLevelHigh = Button("Level High", "buttonLevelHigh");
    m_buttonOk = Button("OK", "buttonOk");
    m_buttonOk->setDefault(true);
    m_buttonCancel = Button("Cancel", "buttonCancel");

    auto* group = new QGroupBox;
    auto* grid = new QGridLayout(group);
    grid->addWidget(m_checkAutoY, 0, 0, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Minimum Y")), 1, 0);
    grid->addWidget(m_editMinY, 1, 1);
    grid->addWidget(m_buttonLevelLow, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Maximum Y")), 2, 0);
    grid->addWidget(m_editMaxY, 2, 1);
    grid->addWidget(m_buttonLevelHigh, 2, 2);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_buttonOk);
    buttons->addStretch(1);
    buttons->addWidget(m_buttonCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    setTabOrder(m_checkAutoY, m_editMinY);
    setTabOrder(m_editMinY, m_editMaxY);
    setTabOrder(m_editMaxY, m_buttonLevelLow);
    setTabOrder(m_buttonLevelLow, m_buttonLevelHigh);
    setTabOrder(m_buttonLevelHigh, m_buttonOk);
    setTabOrder(m_buttonOk, m_buttonCancel);

    connect(m_checkAutoY, &QCheckBox::clicked, this, &CScaleSelect::OnAutoY);
    connect(m_buttonLevelHigh, &QPushButton::clicked, this, &CScaleSelect::OnLevelHigh);
    connect(m_buttonLevelLow, &QPushButton::clicked, this, &CScaleSelect::OnLevelLow);
    connect(m_buttonOk, &QPushButton::clicked, this, &CScaleSelect::OnOK);
    connect(m_buttonCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void CScaleSelect::showEvent(QShowEvent* event) {
    UpdateData(false);
    QDialog::showEvent(event);
}

bool CScaleSelect::UpdateData(bool saveAndValidate) {
    CDataExchange dx(this, saveAndValidate);
    dx.Float(m_editMinY, m_fMinY);
    dx.Float(m_editMaxY, m_fMaxY);
    dx.Check(m_checkAutoY, m_bAutoY);
    UpdateEnabling();
    return !dx.Failed();
}

void CScaleSelect::UpdateEnabling() {
    m_editMinY->setEnabled(!m_bAutoY);
    m_editMaxY->setEnabled(!m_bAutoY);
}

void CScaleSelect::OnAutoY() {
    m_bAutoY = !m_bAutoY;
    UpdateEnabling();
}

// Both shortcuts write every member back to the controls without reading them first: a value
// typed before the click gives way to the one the dialog held.
void CScaleSelect::OnLevelHigh() {
    m_bAutoY = false;
    m_fMaxY = m_fLevelHigh + (m_fLevelHigh - m_fLevelLow) / 10;
    UpdateData(false);
}

void CScaleSelect::OnLevelLow() {
    m_bAutoY = false;
    m_fMinY = m_fLevelLow - (m_fLevelHigh - m_fLevelLow) / 10;
    UpdateData(false);
}

void CScaleSelect::OnOK() {
    if (!UpdateData(true))
        return;
    if (!m_bAutoY && !(m_fMaxY > m_fMinY)) {
        KelvarinMessageBox(
            this, QStringLiteral("Select a Y maximum value greater than the Y minimum value."));
        return;
    }
    // There is no time control: a time range passed in that way can only be cancelled.
    if (!m_bAutoX && !(m_fMaxX > m_fMinX)) {
        KelvarinMessageBox(
            this, QStringLiteral("Select a X maximum value greater than the X minimum value."));
        return;
    }
    accept();
}

#include "detectors/DetectorDlg.h"

#include "gui/DataExchange.h"
#include "gui/DialogButtons.h"
#include "gui/MessageBox.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QLineEdit* AddRow(QGridLayout* grid, int row, const char* label, const char* unit, const char* name,
                  int width) {
    auto* edit = new QLineEdit;
    edit->setObjectName(QLatin1String(name));
    edit->setFixedWidth(width);
    // The unit follows its edit closely, as on the form this dialog was drawn from.
    auto* field = new QHBoxLayout;
    field->addWidget(edit);
    if (unit)
        field->addWidget(new QLabel(QLatin1String(unit)));
    field->addStretch(1);
    grid->addWidget(new QLabel(QLatin1String(label)), row, 0);
    grid->addLayout(field, row, 1);
    return edit;
}

} // namespace

CDetectorDlg::CDetectorDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("DetectorDlg"));
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    // Name, gain and position edits are wider than the ones followed by a unit.
    constexpr int kWide = 160;
    constexpr int kNarrow = 130;
    m_editName = AddRow(grid, 0, "Name", nullptr, "editName", kWide);
    m_editGain = AddRow(grid, 1, "Gain:", nullptr, "editGain", kWide);
    m_editOffset = AddRow(grid, 2, "Offset:", "W", "editOffset", kNarrow);
    m_editWavelength = AddRow(grid, 3, "Wavelength:", "nm", "editWavelength", kNarrow);
    m_editLevelHigh = AddRow(grid, 4, "Level High", "W", "editLevelHigh", kNarrow);
    m_editLevelLow = AddRow(grid, 5, "Level Low", "W", "editLevelLow", kNarrow);
    m_editPosition = AddRow(grid, 6, "# Window Box:", nullptr, "editPosition", kWide);
    m_editPosition->setReadOnly(true);
    m_checkAnticipation = new QCheckBox(QStringLiteral("Anticipation"));
    m_checkAnticipation->setObjectName(QStringLiteral("checkAnticipation"));
    grid->addWidget(m_checkAnticipation, 7, 1);

    m_buttonOk = MakeOkButton();
    m_buttonCancel = MakeCancelButton();

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addSpacing(8);
    layout->addLayout(OkCancelRow(m_buttonOk, m_buttonCancel));
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_buttonOk, &QPushButton::clicked, this, &CDetectorDlg::OnOK);
    connect(m_buttonCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void CDetectorDlg::showEvent(QShowEvent* event) {
    InitDialog();
    QDialog::showEvent(event);
}

void CDetectorDlg::InitDialog() {
    setWindowTitle(QStringLiteral("Position %1").arg(m_config.m_nPosition));
    UpdateData(false);
    m_editName->setFocus();
}

bool CDetectorDlg::UpdateData(bool saveAndValidate) {
    CDataExchange dx(this, saveAndValidate);
    dx.Text(m_editName, m_config.m_strTitle);
    dx.Float(m_editGain, m_config.m_fGain);
    dx.Float(m_editOffset, m_config.m_fOffset);
    dx.Int(m_editWavelength, m_config.m_nWavelength);
    dx.Float(m_editLevelHigh, m_config.m_fLevelHigh);
    dx.Float(m_editLevelLow, m_config.m_fLevelLow);
    dx.Int(m_editPosition, m_config.m_nPosition);
    dx.Check(m_checkAnticipation, m_config.m_bAnticipation);
    return !dx.Failed();
}

void CDetectorDlg::OnOK() {
    if (!UpdateData(true))
        return;
    if (m_config.m_strTitle.empty()) {
        KelvarinMessageBox(this, QStringLiteral("A valid name is necessary to continue"));
        return;
    }
    if (m_config.m_strTitle.find(' ') != std::string::npos) {
        KelvarinMessageBox(this,
                           QStringLiteral(" \"Space\" caracter are not allowed in the name."));
        return;
    }
    accept();
}

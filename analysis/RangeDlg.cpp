#include "analysis/RangeDlg.h"

#include "analysis/AnalysisRules.h"
#include "gui/DataExchange.h"
#include "gui/DialogButtons.h"
#include "gui/MessageBox.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <vector>

namespace {

QLineEdit* Edit(const char* name) {
    auto* edit = new QLineEdit;
    edit->setObjectName(QLatin1String(name));
    edit->setMinimumWidth(162);
    return edit;
}

} // namespace

CRangeDlg::CRangeDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("RangeDlg"));
    setWindowTitle(QStringLiteral("Graphical Parameters"));
    m_editTimeMin = Edit("editTimeMin");
    m_editTimeMax = Edit("editTimeMax");
    m_editPowerMin = Edit("editPowerMin");
    m_editPowerMax = Edit("editPowerMax");
    // Children of the dialog outside its layout, never shown.
    m_editHiddenMin = Edit("editHiddenTimeMin");
    m_editHiddenMax = Edit("editHiddenTimeMax");
    for (QLineEdit* hidden : {m_editHiddenMin, m_editHiddenMax}) {
        hidden->setParent(this);
        hidden->hide();
    }
    m_buttonOk = MakeOkButton();
    m_buttonCancel = MakeCancelButton();

    auto* grid = new QGridLayout;
    const std::pair<const char*, QLineEdit*> rows[] = {{"Time Min:", m_editTimeMin},
                                                       {"Time Max:", m_editTimeMax},
                                                       {"Power Min:", m_editPowerMin},
                                                       {"Power Max:", m_editPowerMax}};
    int row = 0;
    for (const auto& [label, edit] : rows) {
        grid->addWidget(new QLabel(QLatin1String(label)), row, 0);
        grid->addWidget(edit, row++, 1);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addSpacing(4);
    layout->addLayout(OkCancelRow(m_buttonOk, m_buttonCancel));
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_buttonOk, &QPushButton::clicked, this, &CRangeDlg::OnOK);
    connect(m_buttonCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void CRangeDlg::SetStartTime(std::time_t start) {
    m_timeStart = start;
    m_strTimeMin = RangeTimeText(start, m_fTimeMin);
    m_strTimeMax = RangeTimeText(start, m_fTimeMax);
}

void CRangeDlg::showEvent(QShowEvent* event) {
    UpdateData(false);
    m_editTimeMin->setFocus();
    QDialog::showEvent(event);
}

bool CRangeDlg::UpdateData(bool saveAndValidate) {
    // In the order of the form's controls: the hidden bounds, the powers, then the time texts.
    CDataExchange dx(this, saveAndValidate);
    dx.Float(m_editHiddenMin, m_fTimeMin);
    dx.Float(m_editHiddenMax, m_fTimeMax);
    dx.Float(m_editPowerMin, m_fPowerMin);
    dx.Float(m_editPowerMax, m_fPowerMax);
    dx.Text(m_editTimeMin, m_strTimeMin);
    dx.Text(m_editTimeMax, m_strTimeMax);
    return !dx.Failed();
}

void CRangeDlg::OnOK() {
    UpdateData(true);
    std::vector<std::string> messages;
    const auto tell = [&] {
        for (const std::string& text : messages)
            KelvarinMessageBox(this, QString::fromStdString(text));
        messages.clear();
    };
    // A refused bound is said and keeps its value; the dialog closes all the same.
    if (ApplyRangeMinimum(m_strTimeMin, m_timeStart, m_fTimeMax, m_fTimeMin, messages))
        UpdateData(false);
    tell();
    if (ApplyRangeMaximum(m_strTimeMax, m_timeStart, m_fTimeMin, m_fTimeMax, messages))
        UpdateData(false);
    tell();
    if (UpdateData(true))
        accept();
}

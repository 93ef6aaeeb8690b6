#include "gui/DataExchange.h"

#include "gui/MessageBox.h"
#include "gui/SingleByteText.h"
#include "link/NumberText.h"

#include <QCheckBox>
#include <QFile>
#include <QLineEdit>

namespace {

// Blanks around a number are accepted, as the framework's exchange accepts them.
std::string Trimmed(const QString& text) {
    return text.trimmed().toStdString();
}

} // namespace

QString CDataExchange::FormatFloat(float value) {
    return QString::fromStdString(FormatG(value, 6));
}

bool CDataExchange::ParseInt(const QString& text, int32_t& value) {
    int parsed = 0;
    if (!ParseIntExact(Trimmed(text), parsed))
        return false;
    value = parsed;
    return true;
}

bool CDataExchange::ParseFloat(const QString& text, float& value) {
    return ParseFloatExact(Trimmed(text), value);
}

void CDataExchange::Int(QLineEdit* edit, int32_t& value) {
    if (m_bFailed)
        return;
    m_pLastControl = edit;
    if (!m_bSaveAndValidate) {
        edit->setText(QString::number(value));
        return;
    }
    if (!ParseInt(edit->text(), value))
        Fail(edit, QStringLiteral("Please enter an integer."));
}

void CDataExchange::Float(QLineEdit* edit, float& value) {
    if (m_bFailed)
        return;
    m_pLastControl = edit;
    if (!m_bSaveAndValidate) {
        edit->setText(FormatFloat(value));
        return;
    }
    if (!ParseFloat(edit->text(), value))
        Fail(edit, QStringLiteral("Please enter a number."));
}

void CDataExchange::Text(QLineEdit* edit, std::string& value) {
    if (m_bFailed)
        return;
    m_pLastControl = edit;
    if (!m_bSaveAndValidate) {
        edit->setText(ToQt(value));
        return;
    }
    value = ToStd(edit->text());
}

void CDataExchange::Check(QCheckBox* box, bool& value) {
    if (m_bFailed)
        return;
    m_pLastControl = box;
    if (m_bSaveAndValidate)
        value = box->isChecked();
    else
        box->setChecked(value);
}

void CDataExchange::Path(QLineEdit* edit, std::string& value) {
    if (m_bFailed)
        return;
    m_pLastControl = edit;
    if (m_bSaveAndValidate)
        value = QFile::encodeName(edit->text()).toStdString();
    else
        edit->setText(QFile::decodeName(QByteArray::fromStdString(value)));
}

void CDataExchange::IntRange(int32_t value, int32_t minimum, int32_t maximum, QWidget* control) {
    if (m_bFailed || !m_bSaveAndValidate)
        return;
    if (value < minimum || value > maximum)
        Fail(
            control ? control : m_pLastControl,
            QStringLiteral("Please enter an integer between %1 and %2.").arg(minimum).arg(maximum));
}

void CDataExchange::Fail(QWidget* control, const QString& message) {
    m_bFailed = true;
    KelvarinMessageBox(m_pDialog, message);
    if (control) {
        control->setFocus(Qt::OtherFocusReason);
        if (auto* edit = qobject_cast<QLineEdit*>(control))
            edit->selectAll();
    }
}

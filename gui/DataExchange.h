#pragma once
// Moves values between a dialog's members and its controls, with the checks and messages users
// of such dialogs know: "Please enter an integer.", "Please enter a number." and "Please enter an
// integer between %1 and %2.". On a failed check the message is shown, the focus goes to the
// offending control and every later exchange of the same pass is skipped.
// Numbers are read and written with a point as decimal separator whatever the locale; floats
// are written with six significant digits ("%.6g", so 1234567 reads 1.23457e+06).

#include <QString>

#include <cstdint>
#include <string>

class QCheckBox;
class QLineEdit;
class QWidget;

class CDataExchange {
public:
    // saveAndValidate true: controls to members (reading); false: members to controls.
    CDataExchange(QWidget* dialog, bool saveAndValidate)
        : m_pDialog(dialog), m_bSaveAndValidate(saveAndValidate) {}

    void Int(QLineEdit* edit, int32_t& value);
    void Float(QLineEdit* edit, float& value);
    // Single-byte text: characters outside Latin-1 read as '?'.
    void Text(QLineEdit* edit, std::string& value);
    void Check(QCheckBox* box, bool& value);
    // A file path, in the file system's own encoding (UTF-8 here), not single-byte text.
    void Path(QLineEdit* edit, std::string& value);
    // Range check of the integer just exchanged (reading only); a refused value takes the focus
    // to `control` when given, else to the control last exchanged.
    void IntRange(int32_t value, int32_t minimum, int32_t maximum, QWidget* control = nullptr);

    bool Failed() const { return m_bFailed; }
    bool Saving() const { return m_bSaveAndValidate; }

    static QString FormatFloat(float value);
    static bool ParseInt(const QString& text, int32_t& value);
    static bool ParseFloat(const QString& text, float& value);

private:
    void Fail(QWidget* control, const QString& message);

    QWidget* m_pDialog;
    bool m_bSaveAndValidate;
    bool m_bFailed = false;
    QWidget* m_pLastControl = nullptr;
};

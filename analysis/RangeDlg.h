#pragma once
// "Graphical Parameters" of the post-analysis window: the visible time range typed as two local
// date-times and the value range as two numbers. The window sets the four bounds and the start,
// runs the dialog and, after OK, takes the bounds back.

#include <QDialog>
#include <QString>

#include <ctime>
#include <string>

class QLineEdit;
class QPushButton;

class CRangeDlg : public QDialog {
    Q_OBJECT

public:
    explicit CRangeDlg(QWidget* parent = nullptr);

    float m_fTimeMin = 0.0f; // seconds after m_timeStart
    float m_fTimeMax = 0.0f;
    float m_fPowerMin = 0.0f;
    float m_fPowerMax = 0.0f;
    std::time_t m_timeStart = 0; // the file's first row
    std::string m_strTimeMin;
    std::string m_strTimeMax;

    // The start, and the two time texts of the bounds (truncated to whole seconds).
    void SetStartTime(std::time_t start);
    bool UpdateData(bool saveAndValidate);

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void OnOK();

private:
    QLineEdit* m_editTimeMin;
    QLineEdit* m_editTimeMax;
    QLineEdit* m_editPowerMin;
    QLineEdit* m_editPowerMax;
    QLineEdit* m_editHiddenMin; // carry the numeric time bounds through the exchange
    QLineEdit* m_editHiddenMax;
    QPushButton* m_buttonOk;
    QPushButton* m_buttonCancel;
};

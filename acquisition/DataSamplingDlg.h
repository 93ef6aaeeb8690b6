#pragma once
// "Acquisition": the file prefix, the sampling period and either the duration (by period) or the
// start and end date and time (by time) of the next acquisition. The frame copies its settings
// in, runs the dialog and copies them back only after OK. The two mode check boxes act as a
// pair of radio buttons; each heads the group of fields it enables.

#include <QDate>
#include <QDialog>
#include <QTime>

#include <cstdint>
#include <ctime>
#include <string>

class QCheckBox;
class QDateEdit;
class QLineEdit;
class QPushButton;
class QTimeEdit;

class CDataSamplingDlg : public QDialog {
    Q_OBJECT

public:
    explicit CDataSamplingDlg(QWidget* parent = nullptr);

    int32_t m_nSamplingPeriod = 0;
    std::string m_strFile; // path prefix of the acquisition file
    int32_t m_nDuration = 0;
    bool m_bByTime = false;
    bool m_bByPeriod = true;
    QDate m_dtStartDate;
    QTime m_dtStartTime;
    QDate m_dtEndDate;
    QTime m_dtEndTime;
    std::time_t m_timeAcqStart = 0; // combined from the pickers on OK
    std::time_t m_timeAcqEnd = 0;

    // Splits the two calendar times into the pickers and fills every control.
    void OnInitDialog();
    // Reads the controls into the members (true) or writes them (false); false on a refused field.
    bool UpdateData(bool saveAndValidate);

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void OnBrowse();
    void OnByPeriod();
    void OnByTime();
    void OnOK();

private:
    void UpdateEnabling();

    QLineEdit* m_editFile;
    QPushButton* m_buttonBrowse;
    QLineEdit* m_editPeriod;
    QCheckBox* m_checkByPeriod;
    QLineEdit* m_editDuration;
    QCheckBox* m_checkByTime;
    QDateEdit* m_dateStart;
    QTimeEdit* m_timeStart;
    QDateEdit* m_dateEnd;
    QTimeEdit* m_timeEnd;
    QPushButton* m_buttonOk;
    QPushButton* m_buttonCancel;
};

// Local calendar time of a date and a time of day (daylight saving decided by the system), and
// back.
std::time_t CombineLocalTime(const QDate& date, const QTime& time);
void SplitLocalTime(std::time_t t, QDate& date, QTime& time);

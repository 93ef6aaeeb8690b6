#include "acquisition/DataSamplingDlg.h"

#include "acquisition/SelectDialog.h"
#include "gui/DataExchange.h"
#include "gui/DialogButtons.h"
#include "link/LocalTime.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimeEdit>
#include <QVBoxLayout>

#include <climits>

namespace {

QLineEdit* Edit(const char* name, int width) {
    auto* edit = new QLineEdit;
    edit->setObjectName(QLatin1String(name));
    edit->setFixedWidth(width);
    return edit;
}

QDateEdit* DatePicker(const char* name) {
    auto* picker = new QDateEdit;
    picker->setObjectName(QLatin1String(name));
    picker->setCalendarPopup(true); // the drop-down calendar of a short-date picker
    picker->setDisplayFormat(QLocale().dateFormat(QLocale::ShortFormat));
    picker->setAlignment(Qt::AlignRight);
    return picker;
}

QTimeEdit* TimePicker(const char* name) {
    auto* picker = new QTimeEdit;
    picker->setObjectName(QLatin1String(name));
    picker->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    return picker;
}

} // namespace

std::time_t CombineLocalTime(const QDate& date, const QTime& time) {
    std::time_t t = 0;
    LocalTimeFromFields(date.year(), date.month(), date.day(), time.hour(), time.minute(),
                        time.second(), t);
    return t;
}

void SplitLocalTime(std::time_t t, QDate& date, QTime& time) {
    std::tm local{};
    localtime_r(&t, &local);
    date = QDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    time = QTime(local.tm_hour, local.tm_min, local.tm_sec);
}

CDataSamplingDlg::CDataSamplingDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("DataSamplingDlg"));
    setWindowTitle(QStringLiteral("Acquisition"));

    m_editFile = Edit("editFile", 210);
    m_buttonBrowse = new QPushButton(QStringLiteral("..."));
    m_buttonBrowse->setObjectName(QStringLiteral("buttonBrowse"));
    m_buttonBrowse->setFixedWidth(28);
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(new QLabel(QStringLiteral("File")));
    fileRow->addWidget(m_editFile, 1);
    fileRow->addWidget(m_buttonBrowse);

    m_editPeriod = Edit("editPeriod", 74);
    auto* periodRow = new QHBoxLayout;
    periodRow->addSpacing(12);
    periodRow->addWidget(new QLabel(QStringLiteral("Sampling Period:")));
    periodRow->addStretch(1);
    periodRow->addWidget(m_editPeriod);
    periodRow->addWidget(new QLabel(QStringLiteral("seconds")));

    // By period: the check box heads its group, the duration below it.
    m_checkByPeriod = new QCheckBox(QStringLiteral("Acquisition by Period"));
    m_checkByPeriod->setObjectName(QStringLiteral("checkByPeriod"));
    m_editDuration = Edit("editDuration", 74);
    auto* periodGroup = new QGroupBox;
    auto* periodGrid = new QGridLayout(periodGroup);
    periodGrid->addWidget(m_checkByPeriod, 0, 0, 1, 3);
    periodGrid->addWidget(new QLabel(QStringLiteral("Acquisition Duration:")), 1, 0);
    periodGrid->addWidget(m_editDuration, 1, 1, Qt::AlignRight);
    periodGrid->addWidget(new QLabel(QStringLiteral("seconds")), 1, 2);
    periodGrid->setColumnStretch(0, 1);

    m_checkByTime = new QCheckBox(QStringLiteral("Acquisition by time:"));
    m_checkByTime->setObjectName(QStringLiteral("checkByTime"));
    m_dateStart = DatePicker("dateStart");
    m_timeStart = TimePicker("timeStart");
    m_dateEnd = DatePicker("dateEnd");
    m_timeEnd = TimePicker("timeEnd");
    auto* timeGroup = new QGroupBox;
    auto* timeGrid = new QGridLayout(timeGroup);
    timeGrid->addWidget(m_checkByTime, 0, 0, 1, 3);
    timeGrid->addWidget(new QLabel(QStringLiteral("Start:")), 1, 0);
    timeGrid->addWidget(m_dateStart, 1, 1);
    timeGrid->addWidget(m_timeStart, 1, 2);
    timeGrid->addWidget(new QLabel(QStringLiteral("End:")), 2, 0);
    timeGrid->addWidget(m_dateEnd, 2, 1);
    timeGrid->addWidget(m_timeEnd, 2, 2);
    timeGrid->setColumnStretch(0, 1);

    m_buttonOk = MakeOkButton();
    m_buttonCancel = MakeCancelButton();

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fileRow);
    layout->addLayout(periodRow);
    layout->addWidget(periodGroup);
    layout->addWidget(timeGroup);
    layout->addSpacing(6);
    layout->addLayout(OkCancelRow(m_buttonOk, m_buttonCancel));
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // The tab order of the form: file, browse, period, the by-period group, the by-time group.
    setTabOrder(m_editFile, m_buttonBrowse);
    setTabOrder(m_buttonBrowse, m_editPeriod);
    setTabOrder(m_editPeriod, m_checkByPeriod);
    setTabOrder(m_checkByPeriod, m_editDuration);
    setTabOrder(m_editDuration, m_checkByTime);
    setTabOrder(m_checkByTime, m_dateStart);
    setTabOrder(m_dateStart, m_timeStart);
    setTabOrder(m_timeStart, m_dateEnd);
    setTabOrder(m_dateEnd, m_timeEnd);
    setTabOrder(m_timeEnd, m_buttonOk);
    setTabOrder(m_buttonOk, m_buttonCancel);

    connect(m_buttonBrowse, &QPushButton::clicked, this, &CDataSamplingDlg::OnBrowse);
    connect(m_checkByPeriod, &QCheckBox::clicked, this, &CDataSamplingDlg::OnByPeriod);
    connect(m_checkByTime, &QCheckBox::clicked, this, &CDataSamplingDlg::OnByTime);
    connect(m_buttonOk, &QPushButton::clicked, this, &CDataSamplingDlg::OnOK);
    connect(m_buttonCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void CDataSamplingDlg::showEvent(QShowEvent* event) {
    OnInitDialog();
    QDialog::showEvent(event);
}

void CDataSamplingDlg::OnInitDialog() {
    QDate date;
    QTime time;
    SplitLocalTime(m_timeAcqStart, date, time);
    m_dtStartDate = date;
    m_dtStartTime = time;
    SplitLocalTime(m_timeAcqEnd, date, time);
    m_dtEndDate = date;
    m_dtEndTime = time;
    UpdateData(false);
    m_editFile->setFocus();
}

bool CDataSamplingDlg::UpdateData(bool saveAndValidate) {
    CDataExchange dx(this, saveAndValidate);
    dx.Int(m_editPeriod, m_nSamplingPeriod);
    dx.Path(m_editFile, m_strFile);
    dx.Int(m_editDuration, m_nDuration);
    dx.IntRange(m_nSamplingPeriod, 1, INT_MAX, m_editPeriod);
    dx.IntRange(m_nDuration, 1, INT_MAX, m_editDuration);
    dx.Check(m_checkByTime, m_bByTime);
    dx.Check(m_checkByPeriod, m_bByPeriod);
    if (!dx.Failed()) {
        if (saveAndValidate) {
            m_dtStartDate = m_dateStart->date();
            m_dtStartTime = m_timeStart->time();
            m_dtEndDate = m_dateEnd->date();
            m_dtEndTime = m_timeEnd->time();
        } else {
            m_dateStart->setDate(m_dtStartDate);
            m_timeStart->setTime(m_dtStartTime);
            m_dateEnd->setDate(m_dtEndDate);
            m_timeEnd->setTime(m_dtEndTime);
        }
    }
    UpdateEnabling();
    return !dx.Failed();
}

void CDataSamplingDlg::UpdateEnabling() {
    m_editDuration->setEnabled(m_bByPeriod);
    for (QWidget* picker : {static_cast<QWidget*>(m_dateStart), static_cast<QWidget*>(m_timeStart),
                            static_cast<QWidget*>(m_dateEnd), static_cast<QWidget*>(m_timeEnd)})
        picker->setEnabled(!m_bByPeriod);
}

void CDataSamplingDlg::OnBrowse() {
    CSelectDialog dialog(this);
    dialog.setWindowTitle(
        QStringLiteral("Specify a name and a location for your acquisition file"));
    if (dialog.exec() == QDialog::Accepted)
        m_strFile = QFile::encodeName(dialog.GetPathName()).toStdString();
    UpdateData(false);
}

void CDataSamplingDlg::OnByPeriod() {
    m_bByPeriod = true;
    m_bByTime = false;
    UpdateData(false);
}

void CDataSamplingDlg::OnByTime() {
    UpdateData(true); // what was typed is kept; a refused field is said and the switch made
    m_bByPeriod = false;
    m_bByTime = true;
    UpdateData(false);
}

void CDataSamplingDlg::OnOK() {
    if (!UpdateData(true))
        return;
    m_timeAcqStart = CombineLocalTime(m_dtStartDate, m_dtStartTime);
    m_timeAcqEnd = CombineLocalTime(m_dtEndDate, m_dtEndTime);
    accept();
}

#pragma once
// "Detector": edits a copy of a channel's configuration record (name, gain, offset, wavelength,
// alarm levels, anticipation) and shows the position the channel occupies. The caller copies the
// record in, runs the dialog and copies m_config back only after OK.

#include "detectors/ChannelConfig.h"

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;

class CDetectorDlg : public QDialog {
    Q_OBJECT

public:
    explicit CDetectorDlg(QWidget* parent = nullptr);

    CChannelConfig m_config;

    // Fills the controls from m_config and sets the caption; exec() and show() both do it.
    void InitDialog();
    // Reads the controls into m_config (true) or writes them (false); false on a refused field.
    bool UpdateData(bool saveAndValidate);

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void OnOK();

private:
    QLineEdit* m_editName;
    QLineEdit* m_editGain;
    QLineEdit* m_editOffset;
    QLineEdit* m_editWavelength;
    QLineEdit* m_editLevelHigh;
    QLineEdit* m_editLevelLow;
    QLineEdit* m_editPosition;
    QCheckBox* m_checkAnticipation;
    QPushButton* m_buttonOk;
    QPushButton* m_buttonCancel;
};

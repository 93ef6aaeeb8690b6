#pragma once
// "Selection of the Scales Parameters": automatic value scaling or a fixed minimum and maximum,
// with two shortcuts that put an axis end 10 % of the alarm band beyond the channel's levels.
// The caller sets every member, runs the dialog and reads the scales back after OK.

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;

class CScaleSelect : public QDialog {
    Q_OBJECT

public:
    explicit CScaleSelect(QWidget* parent = nullptr);

    bool m_bAutoX = false; // no control: passed through
    bool m_bAutoY = false;
    float m_fMinY = 0.0f;
    float m_fMaxY = 0.0f;
    float m_fMinX = 0.0f; // no control: passed through
    float m_fMaxX = 0.0f;
    float m_fLevelHigh = 0.0f; // the channel's alarm levels, for the two shortcuts
    float m_fLevelLow = 0.0f;

    bool UpdateData(bool saveAndValidate);

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void OnAutoY();
    void OnLevelHigh();
    void OnLevelLow();
    void OnOK();

private:
    // The edits follow the member, not the box: while automatic scaling is on they are disabled.
    void UpdateEnabling();

    QCheckBox* m_checkAutoY;
    QLineEdit* m_editMinY;
    QLineEdit* m_editMaxY;
    QPushButton* m_buttonLevelLow;
    QPushButton* m_buttonLevelHigh;
    QPushButton* m_buttonOk;
    QPushButton* m_buttonCancel;
};

#pragma once
// "Position": asks for one position number, 0 to 8.

#include <QDialog>

#include <cstdint>

class QLineEdit;
class QPushButton;

class CPositionDlg : public QDialog {
    Q_OBJECT

public:
    explicit CPositionDlg(QWidget* parent = nullptr);

    int32_t m_nPosition = 0;

    bool UpdateData(bool saveAndValidate);

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void OnOK();

private:
    QLineEdit* m_editPosition;
    QPushButton* m_buttonOk;
    QPushButton* m_buttonCancel;
};

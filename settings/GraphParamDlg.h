#pragma once
// "Graphical Parameters": the number of points each pane's graph keeps (500 to 5000). The frame
// copies the size in and, after OK, gives it to every pane and to the profile.

#include <QDialog>

#include <cstdint>

class QLineEdit;
class QPushButton;

class CGraphParamDlg : public QDialog {
    Q_OBJECT

public:
    explicit CGraphParamDlg(QWidget* parent = nullptr);

    static constexpr int32_t kMinimum = 500;
    static constexpr int32_t kMaximum = 5000;
    int32_t m_nGraphSize = 2000;

    bool UpdateData(bool saveAndValidate);

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void OnOK();

private:
    QLineEdit* m_editSize;
    QPushButton* m_buttonOk;
    QPushButton* m_buttonCancel;
};

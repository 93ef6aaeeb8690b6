#pragma once
// "Screenshot": the path prefix to which the date and time are appended to name screenshots.
// OK takes the edit's text; Cancel does not. A path chosen with "..." is kept in m_strFile at
// once, and the frame stores m_strFile whichever button closes the dialog.

#include <QDialog>

#include <string>

class QLineEdit;
class QPushButton;

class CCaptureEcran : public QDialog {
    Q_OBJECT

public:
    explicit CCaptureEcran(QWidget* parent = nullptr);

    std::string m_strFile; // path prefix, in the file system's encoding

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void OnBrowse();
    void OnOK();

private:
    QLineEdit* m_editFile;
    QPushButton* m_buttonBrowse;
    QPushButton* m_buttonOk;
    QPushButton* m_buttonCancel;
};

#pragma once
// "About": the application icon, its name and version, one line on what it is for.

#include <QDialog>

class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

// The application icon, drawn rather than loaded so the executable needs no resource files.
QIcon KelvarinIcon();

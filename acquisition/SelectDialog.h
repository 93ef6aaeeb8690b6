#pragma once
// The file chooser behind the "..." buttons of the acquisition and screenshot dialogs, where the
// user names a file that is created later: an open-file dialog that accepts names of files that
// do not exist yet, relabelled "Select" and "Title:", showing all files with no type list.

#include <QFileDialog>
#include <QString>

class CSelectDialog : public QFileDialog {
    Q_OBJECT

public:
    // The caller sets the caption (setWindowTitle) and, if it likes, the folder (setDirectory).
    explicit CSelectDialog(QWidget* parent = nullptr);

    // Full path of the file chosen; empty before the dialog has been accepted.
    QString GetPathName() const { return selectedFiles().value(0); }

protected:
    void OnInitDone();
};

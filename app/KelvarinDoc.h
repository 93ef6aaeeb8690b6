#pragma once
// The single document. It holds no measurement data (channels live in the panes, acquisitions
// in the frame); it only names the window.

#include <QString>

class CKelvarinDoc {
public:
    // A new, empty document: its title becomes "Interface".
    bool OnNewDocument();
    const QString& GetTitle() const { return m_strTitle; }

private:
    QString m_strTitle;
};

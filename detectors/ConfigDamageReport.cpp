#include "detectors/ConfigDamageReport.h"

#include "gui/MessageBox.h"

#include <QString>

#include <set>

void ReportConfigDamageOnce(QWidget* parent, const std::string& error) {
    static std::set<std::string> shown; // UI thread only
    if (!shown.insert(error).second)
        return;
    KelvarinMessageBox(parent, QString::fromStdString(error) +
                                   QStringLiteral("\nThe detector is used with default settings."));
}

#pragma once
// A damaged detector configuration file is reported to the user once per run, however many
// times the auto-detection and the connection of that detector read it.

#include <string>

class QWidget;

// Shows `error` (which names the file) in a message box unless the same text was shown before.
void ReportConfigDamageOnce(QWidget* parent, const std::string& error);

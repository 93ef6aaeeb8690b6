#pragma once
// Kelvarin's per-user settings: sections and keys such as "SerialCom"/"Com". On Linux an INI file
// under $XDG_CONFIG_HOME/Kelvarin, on Windows the registry.

#include <QString>

QString ReadProfileString(const QString& section, const QString& key,
                          const QString& fallback = QString());
void WriteProfileString(const QString& section, const QString& key, const QString& value);
int ReadProfileInt(const QString& section, const QString& key, int fallback);
void WriteProfileInt(const QString& section, const QString& key, int value);

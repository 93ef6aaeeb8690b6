#include "settings/ProfileStore.h"

#include <QSettings>

namespace {

QString Key(const QString& section, const QString& key) {
    return section + '/' + key;
}

} // namespace

QString ReadProfileString(const QString& section, const QString& key, const QString& fallback) {
    const QSettings settings(QStringLiteral("Kelvarin"), QStringLiteral("Kelvarin"));
    return settings.value(Key(section, key), fallback).toString();
}

void WriteProfileString(const QString& section, const QString& key, const QString& value) {
    QSettings settings(QStringLiteral("Kelvarin"), QStringLiteral("Kelvarin"));
    settings.setValue(Key(section, key), value);
}

int ReadProfileInt(const QString& section, const QString& key, int fallback) {
    const QSettings settings(QStringLiteral("Kelvarin"), QStringLiteral("Kelvarin"));
    bool ok = false;
    const int value = settings.value(Key(section, key)).toInt(&ok);
    return ok ? value : fallback;
}

void WriteProfileInt(const QString& section, const QString& key, int value) {
    QSettings settings(QStringLiteral("Kelvarin"), QStringLiteral("Kelvarin"));
    settings.setValue(Key(section, key), value);
}

#pragma once
// Typing into a dialog's field and clicking its buttons as a user does, found by object name.

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

// Empties the line edit `edit` of `dialog`, then types `text` into it key by key.
inline void Type(QWidget* dialog, const char* edit, const QString& text) {
    auto* field = dialog->findChild<QLineEdit*>(QLatin1String(edit));
    field->clear();
    QTest::keyClicks(field, text);
}

// A left click on the push button `name` of `dialog`.
inline void Click(QWidget* dialog, const char* name) {
    QTest::mouseClick(dialog->findChild<QPushButton*>(QLatin1String(name)), Qt::LeftButton);
}

#pragma once
// The one way Kelvarin shows a message to the user: a modal box titled "Kelvarin" with an OK
// button. Tests install an interceptor to read the exact text instead of showing a box.

#include <QString>

#include <functional>

class QWidget;

void KelvarinMessageBox(QWidget* parent, const QString& text);
// The same box, shown without waiting for OK: it closes and deletes itself when the user likes,
// while the window behind it goes on (messages from timers and from the acquisition).
void KelvarinMessageBoxModeless(QWidget* parent, const QString& text);

// While set, messages go to the interceptor and no box is shown. Returns the previous one.
using MessageInterceptor = std::function<void(const QString& text)>;
MessageInterceptor SetMessageInterceptor(MessageInterceptor interceptor);

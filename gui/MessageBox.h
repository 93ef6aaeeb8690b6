#pragma once
// The one way Kelvarin shows a message to the user: a modal box titled "Kelvarin" with an OK
// button. Tests install an interceptor to read the exact text instead of showing a box.

#include <QString>

#include <functional>

class QWidget;

void KelvarinMessageBox(QWidget* parent, const QString& text);

// While set, messages go to the interceptor and no box is shown. Returns the previous one.
using MessageInterceptor = std::function<void(const QString& text)>;
MessageInterceptor SetMessageInterceptor(MessageInterceptor interceptor);

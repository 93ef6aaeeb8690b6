#include "gui/MessageBox.h"

#include <QMessageBox>

#include <utility>

namespace {

// Messages are shown on the UI thread only, so no lock guards the interceptor.
MessageInterceptor& Interceptor() {
    static MessageInterceptor interceptor;
    return interceptor;
}

} // namespace

void KelvarinMessageBox(QWidget* parent, const QString& text) {
    if (Interceptor()) {
        Interceptor()(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Kelvarin"), text, QMessageBox::Ok, parent);
    box.exec();
}

void KelvarinMessageBoxModeless(QWidget* parent, const QString& text) {
    if (Interceptor()) {
        Interceptor()(text);
        return;
    }
    auto* box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("Kelvarin"), text,
                                QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

MessageInterceptor SetMessageInterceptor(MessageInterceptor interceptor) {
    return std::exchange(Interceptor(), std::move(interceptor));
}

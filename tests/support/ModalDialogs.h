#pragma once
// Answering the modal dialogs a call opens, as a user at the screen would: a timer looks for
// the dialog while the call's own event loop runs.

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <functional>

// Runs `act` on the modal dialog that the next call opens.
inline void OnModal(std::function<void(QWidget*)> act) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            act(modal);
        }
    });
    timer->start(20);
}

// Accepts the auto-detection list once its probe has finished (its OK is enabled again).
inline void AcceptAutoDetection() {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal->objectName() != QLatin1String("AutoDetectDlg"))
            return;
        auto* ok = modal->findChild<QPushButton*>(QStringLiteral("buttonOk"));
        if (ok && ok->isEnabled()) {
            timer->stop();
            timer->deleteLater();
            ok->click();
        }
    });
    timer->start(50);
}

#include "gui/DialogButtons.h"

#include <QHBoxLayout>
#include <QPushButton>

QPushButton* MakeOkButton(QWidget* parent) {
    auto* ok = new QPushButton(QStringLiteral("OK"), parent);
    ok->setObjectName(QStringLiteral("buttonOk"));
    ok->setDefault(true);
    return ok;
}

QPushButton* MakeCancelButton(QWidget* parent) {
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), parent);
    cancel->setObjectName(QStringLiteral("buttonCancel"));
    return cancel;
}

QHBoxLayout* OkCancelRow(QPushButton* ok, QPushButton* cancel) {
    auto* row = new QHBoxLayout;
    row->addWidget(ok);
    row->addStretch(1);
    row->addWidget(cancel);
    return row;
}

#include "app/AboutDlg.h"

#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>

QIcon KelvarinIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(20, 40, 90));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRectF(1, 1, 30, 30), 5, 5);
    // A beam entering a detector head.
    painter.setPen(QPen(QColor(255, 40, 40), 3));
    painter.drawLine(QPointF(4, 16), QPointF(18, 16));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(230, 230, 230));
    painter.drawEllipse(QPointF(22, 16), 7, 7);
    return QIcon(pixmap);
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("AboutDlg"));
    setWindowTitle(QStringLiteral("About"));
    auto* icon = new QLabel;
    icon->setPixmap(KelvarinIcon().pixmap(32, 32));
    auto* version = new QLabel(QStringLiteral("Kelvarin Version 1.00.10"));
    version->setObjectName(QStringLiteral("labelVersion"));
    auto* purpose = new QLabel(QStringLiteral("Eight laser power meters, watched at once."));
    purpose->setObjectName(QStringLiteral("labelPurpose"));
    auto* ok = new QPushButton(QStringLiteral("OK"));
    ok->setObjectName(QStringLiteral("buttonOk"));
    ok->setDefault(true);
    auto* grid = new QGridLayout(this);
    grid->setHorizontalSpacing(16);
    grid->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    grid->addWidget(version, 0, 1);
    grid->addWidget(purpose, 1, 1);
    grid->addWidget(ok, 0, 2, Qt::AlignTop);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

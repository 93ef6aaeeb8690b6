#include "app/AboutDlg.h"

#include "res/KelvarinIconSvg.h"

#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSvgRenderer>

QIcon KelvarinIcon() {
    // The installed icon files are made from the same drawing (res/kelvarin.svg), at the sizes
    // of the desktop's icon theme.
    QSvgRenderer renderer{QByteArray(kKelvarinIconSvg)};
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
        icon.addPixmap(pixmap);
    }
    return icon;
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

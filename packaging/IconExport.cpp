// kelvarin-icons OUTDIR: writes the application icon into OUTDIR/hicolor/SIZE/apps as the desktop's
// icon theme wants it, from the very QIcon the window shows. Run when installing, offscreen.

#include "app/AboutDlg.h"

#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("Usage: kelvarin-icons OUTDIR NAME\n", stderr);
        return 2;
    }
    QGuiApplication app(argc, argv);
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLocal8Bit(argv[2]);
    const QIcon icon = KelvarinIcon();
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString folder = QStringLiteral("%1/hicolor/%2x%2/apps").arg(out).arg(size);
        if (!QDir().mkpath(folder) ||
            !icon.pixmap(size, size)
                 .save(folder + QLatin1Char('/') + name + QStringLiteral(".png"))) {
            std::fprintf(stderr, "kelvarin-icons: cannot write %s\n", qPrintable(folder));
            return 1;
        }
    }
    return 0;
}

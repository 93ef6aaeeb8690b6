#include "capture/WindowCapture.h"

#include <QFile>
#include <QImageWriter>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

QImage FrameClientImage(const QImage& client, const QColor& background) {
    const int w = client.width();
    const int h = client.height();
    QImage picture(w, h, QImage::Format_RGB32);
    picture.fill(Qt::white);
    if (w <= 0 || h <= 0)
        return picture;
    QPainter painter(&picture);
    painter.setPen(QPen(Qt::black, 0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(0, 0, w - 1, h - 1);
    if (w > 2 && h > 2) {
        painter.fillRect(QRect(1, 1, w - 2, h - 2), background);
        // Destination (x, y) from client (x - 3, y - 2), inside the border only.
        painter.setClipRect(QRect(1, 1, w - 2, h - 2));
        painter.drawImage(QPoint(3, 2), client);
    }
    return picture;
}

QImage CaptureClientArea(QWidget* window, const QRect& clientArea, const QColor& background) {
    QImage client = window->grab(clientArea).toImage().convertToFormat(QImage::Format_RGB32);
    // On a screen with a scale factor the grab has more pixels than the area: keep its size.
    if (client.size() != clientArea.size())
        client = client.scaled(clientArea.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return FrameClientImage(client, background);
}

std::string ScreenshotFileName(const std::string& prefix, std::time_t when, const char* format) {
    std::tm local{};
    localtime_r(&when, &local);
    char stamp[64];
    const size_t n = std::strftime(stamp, sizeof stamp, format, &local);
    return prefix + std::string(stamp, n) + ".bmp";
}

bool SaveScreenshot(const QImage& picture, const std::string& path, std::string& error) {
    const QString name = QFile::decodeName(QByteArray::fromStdString(path));
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        error = "Unable to save the screenshot " + path + ": " + file.errorString().toStdString();
        return false;
    }
    QImageWriter writer(&file, "BMP");
    if (!writer.write(picture) || !file.flush()) {
        error = "Unable to save the screenshot " + path + ": " +
                (writer.error() != QImageWriter::UnknownError ? writer.errorString()
                                                              : file.errorString())
                    .toStdString();
        file.close();
        file.remove(); // no half picture under the name
        return false;
    }
    return true;
}

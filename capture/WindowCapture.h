#pragma once
// Screenshots of a window, for the main window's toolbar button and the post-analysis window's
// own button. The window's widgets are rendered into the picture themselves, not read back from
// the screen, so it works on any display server and off screen.

#include <QColor>
#include <QImage>
#include <QRect>

#include <ctime>
#include <string>

class QWidget;

// The picture of `clientArea` (in `window`'s coordinates) as screenshots are kept: W x H, a
// 1-pixel black border, and inside it the client image shifted by (3, 2): destination pixel
// (x, y) shows client pixel (x - 3, y - 2). What would come from outside the client area (the
// two left columns and the top row inside the border) is `background`.
QImage CaptureClientArea(QWidget* window, const QRect& clientArea, const QColor& background);
// The same from an image of the client area already taken.
QImage FrameClientImage(const QImage& client, const QColor& background);

// prefix + the local time `when` in `format` (strftime) + ".bmp".
std::string ScreenshotFileName(const std::string& prefix, std::time_t when, const char* format);

// Saves the picture as a BMP file. False with `error`: "Unable to save the screenshot PATH:
// reason".
bool SaveScreenshot(const QImage& picture, const std::string& path, std::string& error);

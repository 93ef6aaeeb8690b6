#pragma once
// Text crosses between the core and the widgets here. The core keeps single-byte text (the micro
// prefix is the byte 0xB5, device paths and meter replies are bytes); Latin-1 maps every byte to
// one character and back, so nothing is lost on the way to a widget and back.

#include <QString>

#include <string>

class QPainter;

QString ToQt(const std::string& singleByte);
// Characters outside Latin-1 (typed by the user) read as '?'.
std::string ToStd(const QString& text);

// Draws text with its top-left corner at (x, y), as the panes and the graph place their labels.
void TextAt(QPainter& painter, int x, int y, const QString& text);

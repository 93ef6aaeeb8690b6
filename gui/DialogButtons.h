#pragma once
// The OK and Cancel buttons every dialog here has: OK is the default button; both carry the
// names tests find them by ("buttonOk", "buttonCancel").

class QHBoxLayout;
class QPushButton;
class QWidget;

QPushButton* MakeOkButton(QWidget* parent = nullptr);
QPushButton* MakeCancelButton(QWidget* parent = nullptr);
// OK at the left, Cancel at the right, as the forms place them.
QHBoxLayout* OkCancelRow(QPushButton* ok, QPushButton* cancel);

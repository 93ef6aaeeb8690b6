#include "app/PaneGrid.h"

#include <QPainter>

CPaneGrid::CPaneGrid(QWidget* parent)
    : QWidget(parent), m_rows(kRows), m_columns(kColumns), m_rowSizes(kRows, 0),
      m_columnSizes(kColumns, 0) {}

void CPaneGrid::SetPane(int row, int column, QWidget* pane) {
    pane->setParent(this);
    m_panes[Index(row, column)] = pane;
}

void CPaneGrid::SetRowInfo(int row, int ideal, int minimum) {
    m_rows[static_cast<size_t>(row)] = {ideal, minimum};
}

void CPaneGrid::SetColumnInfo(int column, int ideal, int minimum) {
    m_columns[static_cast<size_t>(column)] = {ideal, minimum};
}

void CPaneGrid::RecalcLayout() {
    m_rowSizes = LayoutTracks(m_rows, height(), kBarSize);
    m_columnSizes = LayoutTracks(m_columns, width(), kBarSize);
    int y = 0;
    for (int r = 0; r < kRows; ++r) {
        const int h = m_rowSizes[static_cast<size_t>(r)];
        int x = 0;
        for (int c = 0; c < kColumns; ++c) {
            const int w = m_columnSizes[static_cast<size_t>(c)];
            if (QWidget* pane = m_panes[Index(r, c)]) {
                if (w > 0 && h > 0) {
                    pane->setGeometry(x, y, w, h);
                    pane->show();
                } else {
                    pane->hide();
                }
            }
            if (w > 0)
                x += w + kBarSize;
        }
        if (h > 0)
            y += h + kBarSize;
    }
    update();
}

void CPaneGrid::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    RecalcLayout();
}

void CPaneGrid::paintEvent(QPaintEvent*) {
    // Only the bars show: the panes cover everything else.
    QPainter(this).fillRect(rect(), palette().color(QPalette::Window));
}

bool CPaneGrid::ShowMosaic(int layout, int w, int h) {
    switch (layout) {
    case 1:
        SetRowInfo(0, h, h);
        SetColumnInfo(0, w, w - 45);
        break;
    case 2:
    case 3:
    case 4:
        SetRowInfo(0, h, 10);
        SetRowInfo(1, 0, 0);
        for (int c = 0; c < kColumns; ++c) {
            if (c < layout)
                SetColumnInfo(c, w / layout, 10);
            else
                SetColumnInfo(c, 0, 0);
        }
        break;
    case 8:
        SetRowInfo(0, (h - 75) / 2, 10);
        SetRowInfo(1, (h - 75) / 2, 10);
        for (int c = 0; c < kColumns; ++c)
            SetColumnInfo(c, w / 4, 10);
        break;
    default:
        return false;
    }
    RecalcLayout();
    return true;
}

void CPaneGrid::ShowAlone(int position, int w, int h) {
    const int row = PositionRow(position);
    const int column = PositionColumn(position);
    for (int c = 0; c < column; ++c)
        SetColumnInfo(c, 0, ColumnInfo(c).minimum);
    SetColumnInfo(column, w, w - 45);
    if (row == 0) {
        SetRowInfo(0, h, h);
    } else {
        SetRowInfo(0, 0, 10);
        SetRowInfo(1, h, 10);
    }
    RecalcLayout();
}

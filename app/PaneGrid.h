#pragma once
// The two-row, four-column grid that holds the eight panes. Layout commands set each row's and
// column's ideal and minimum size and recompute; resizing keeps the sizes last set and the last
// visible row and column take the difference. Bars separate adjacent visible cells.

#include "app/GridRule.h"

#include <QWidget>

#include <array>
#include <vector>

class CPaneGrid : public QWidget {
    Q_OBJECT

public:
    static constexpr int kRows = 2;
    static constexpr int kColumns = 4;
    static constexpr int kBarSize = 6;

    explicit CPaneGrid(QWidget* parent = nullptr);

    // The widget shown in a cell; the grid becomes its parent.
    void SetPane(int row, int column, QWidget* pane);
    QWidget* Pane(int row, int column) const { return m_panes[Index(row, column)]; }

    void SetRowInfo(int row, int ideal, int minimum);
    void SetColumnInfo(int column, int ideal, int minimum);
    GridTrack RowInfo(int row) const { return m_rows[static_cast<size_t>(row)]; }
    GridTrack ColumnInfo(int column) const { return m_columns[static_cast<size_t>(column)]; }
    // Lays the cells out again with the current sizes.
    void RecalcLayout();
    // The mosaic layouts, 1x1, 1x2, 1x3, 1x4 (`layout` 1 to 4) and 2x4 (8), and one position
    // alone, for a window whose outer size is `w` by `h` (so that an ideal size of w or h always
    // covers the grid). False, with nothing changed, for another layout.
    bool ShowMosaic(int layout, int w, int h);
    void ShowAlone(int position, int w, int h);
    // Sizes given to the rows and columns by the last layout (0 for hidden ones).
    const std::vector<int>& RowSizes() const { return m_rowSizes; }
    const std::vector<int>& ColumnSizes() const { return m_columnSizes; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    static size_t Index(int row, int column) {
        return static_cast<size_t>(row * kColumns + column);
    }

    std::array<QWidget*, kRows * kColumns> m_panes{};
    std::vector<GridTrack> m_rows;
    std::vector<GridTrack> m_columns;
    std::vector<int> m_rowSizes;
    std::vector<int> m_columnSizes;
};

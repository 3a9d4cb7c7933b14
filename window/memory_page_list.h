#pragma once

// MemoryPageList: the memory view's list. It holds more rows than it shows, but an operator only
// ever sees the one page in its top sixteen rows: the list never scrolls (no wheel, no paging
// keys, no auto-scroll to a current cell), and rows below the page can be neither selected nor
// made current.

#include <QTableWidget>

namespace koru {

class MemoryPageList : public QTableWidget {
  public:
    static constexpr int kPageRows = 16;

    explicit MemoryPageList(QWidget* parent);

    // Keeps the page in view: a request to show any other cell is ignored.
    void scrollTo(const QModelIndex& index, ScrollHint hint) override;

  protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
};

}  // namespace koru

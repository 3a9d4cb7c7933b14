#include "window/memory_page_list.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QWheelEvent>

namespace koru {
namespace {

bool OnPage(const QModelIndex& index) {
    return index.isValid() && index.row() < MemoryPageList::kPageRows;
}

}  // namespace

MemoryPageList::MemoryPageList(QWidget* parent) : QTableWidget(parent) {
    setAutoScroll(false);  // no scrolling while a drag leaves the list
    // Whatever moves the scroll bar, the list goes straight back to its top.
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (value != 0) {
            verticalScrollBar()->setValue(0);
        }
    });
}

void MemoryPageList::scrollTo(const QModelIndex&, ScrollHint) {}

QModelIndex MemoryPageList::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
    const QModelIndex next = QTableWidget::moveCursor(action, modifiers);
    return OnPage(next) ? next : currentIndex();
}

QItemSelectionModel::SelectionFlags MemoryPageList::selectionCommand(const QModelIndex& index,
                                                                     const QEvent* event) const {
    if (index.isValid() && !OnPage(index)) {
        return QItemSelectionModel::NoUpdate;
    }
    return QTableWidget::selectionCommand(index, event);
}

void MemoryPageList::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_PageUp || event->key() == Qt::Key_PageDown) {
        event->accept();  // paging belongs to the view's own buttons
        return;
    }
    QTableWidget::keyPressEvent(event);
}

void MemoryPageList::mousePressEvent(QMouseEvent* event) {
    const QModelIndex index = indexAt(event->position().toPoint());
    if (index.isValid() && !OnPage(index)) {
        event->accept();  // the partly visible row below the page takes no clicks
        return;
    }
    QTableWidget::mousePressEvent(event);
}

void MemoryPageList::wheelEvent(QWheelEvent* event) {
    event->accept();
}

}  // namespace koru

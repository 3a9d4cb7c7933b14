#include "controls/cmybtn.h"

#include "controls/control_ids.h"

namespace koru {

bool CMybtn::BeginLeftPress() {
    if (m_locked && IsViewModeControl(ControlId(&Widget()))) {
        return false;
    }
    m_pressed = true;
    return true;
}

void CMybtn::EndLeftRelease(QPoint pos) {
    if (!m_pressed) {
        return;
    }
    m_pressed = false;
    // Strictly inside: a release on the leftmost column or the top row does not count.
    const QRect area = Widget().rect();
    const bool inside =
        pos.x() > 0 && pos.x() < area.width() && pos.y() > 0 && pos.y() < area.height();
    if (inside) {
        SendClick();
    }
}

bool CMybtn::KeyPressed(const QKeyEvent& event) {
    const int key = event.key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && !event.isAutoRepeat()) {
        m_enterPressed = true;
    }
    switch (key) {
        case Qt::Key_Space:
        case Qt::Key_Return:
        case Qt::Key_Enter:
        // Arrows would move the mark within a radio group without telling the main window.
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Left:
        case Qt::Key_Right:
            return true;
        default:
            return false;
    }
}

void CMybtn::KeyReleased(const QKeyEvent& event) {
    if (event.isAutoRepeat()) {
        return;  // one release per key stroke, however long the key was held
    }
    const int key = event.key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        // Only the release of a press seen here: cleared first, because the command may open a
        // box whose own Enter press this button never sees.
        if (m_enterPressed) {
            m_enterPressed = false;
            SendClick();
        }
    } else if (key >= Qt::Key_F2 && key <= Qt::Key_F12) {
        if (ControlHost* host = MainWindowHost()) {
            host->FunctionKey(kVkF2 + (key - Qt::Key_F2));
        }
    }
}

void CMybtn::FocusLost() {
    m_enterPressed = false;
    if (auto* push = qobject_cast<QPushButton*>(&Widget())) {
        push->setDefault(false);
    }
}

bool CMybtn::MayChangeMark() {
    ControlHost* host = MainWindowHost();
    return host == nullptr || !host->RefusesCommandsOf(Widget().parentWidget());
}

void CMybtn::SendClick() {
    if (ControlHost* host = MainWindowHost()) {
        host->Command(ControlId(&Widget()), Widget().parentWidget());
    }
}

}  // namespace koru

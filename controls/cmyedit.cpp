#include "controls/cmyedit.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionFrame>

#include "controls/control_host.h"
#include "controls/control_ids.h"

namespace koru {
namespace {

bool IsHexDigit(QChar c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
}

// Keys that produce no character of their own (navigation, editing, dialog keys) are left to
// the edit and the dialog; only characters are filtered.
bool ProducesCharacter(const QKeyEvent& event) {
    return event.key() < Qt::Key_Escape && !event.text().isEmpty();
}

bool IsEnter(const QKeyEvent& event) {
    return event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter;
}

}  // namespace

CMyedit::CMyedit(int id, QWidget* parent) : QLineEdit(parent) {
    SetControlId(this, id);
    // Pasted text follows the upper-case rule as typed text does.
    connect(this, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (m_upperCase && text != text.toUpper()) {
            const int cursor = cursorPosition();
            setText(text.toUpper());
            setCursorPosition(cursor);
        }
    });
}

QRect CMyedit::FormattingRect() const {
    QStyleOptionFrame option;
    initStyleOption(&option);
    const QMargins margins = textMargins();
    return style()->subElementRect(QStyle::SE_LineEditContents, &option, this) - margins;
}

void CMyedit::keyPressEvent(QKeyEvent* event) {
    if (IsEnter(*event) && !event->isAutoRepeat()) {
        m_enterPressed = true;
    }
    if (!ProducesCharacter(*event)) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    const QString text = event->text();
    const bool acceptsAny = ControlId(this) == kIdFileName;
    if (!acceptsAny && !(text.size() == 1 && IsHexDigit(text.front()))) {
        event->accept();  // dropped silently
        return;
    }
    if (m_upperCase && text != text.toUpper()) {
        QKeyEvent upper(event->type(), event->key(), event->modifiers(), text.toUpper(),
                        event->isAutoRepeat(), event->count());
        QLineEdit::keyPressEvent(&upper);
        event->setAccepted(upper.isAccepted());
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void CMyedit::keyReleaseEvent(QKeyEvent* event) {
    QLineEdit::keyReleaseEvent(event);
    if (!IsEnter(*event) || event->isAutoRepeat() || !m_enterPressed) {
        return;
    }
    m_enterPressed = false;  // before the command: it may open a box that takes the next press
    if (ControlId(this) == kIdDisplayAddress) {
        if (ControlHost* host = MainWindowHost()) {
            host->Command(kIdSetDisplayAddress, parentWidget());
        }
    }
}

void CMyedit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    m_enterPressed = false;
}

void CMyedit::mouseDoubleClickEvent(QMouseEvent* event) {
    QLineEdit::mouseDoubleClickEvent(event);
    ControlHost* host = MainWindowHost();
    if (host == nullptr) {
        return;
    }
    switch (ControlId(this)) {
        case kIdFileName:
            host->Command(kIdOpenFile, parentWidget());
            break;
        case kIdStatusLine: {
            const QRect area = FormattingRect();
            const QPoint pos = event->position().toPoint();
            if (pos.x() > area.left() && pos.x() < area.left() + kSaveStopHintWidth &&
                pos.y() > area.top() && pos.y() < area.top() + area.height()) {
                host->RequestSaveStop();
            }
            break;
        }
        case kIdChecksum:
            host->ShowGreeting();
            break;
        default:
            break;
    }
}

}  // namespace koru

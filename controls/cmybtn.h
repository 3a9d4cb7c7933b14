#pragma once

// CMybtn: the behaviour shared by every push button, radio button and check box of the main
// window. A click does not travel as a Qt signal: the button calls the main window's Command()
// with its own id, and the router decides from there. Clicks count only when the left button
// is released strictly inside the button; an Enter stroke (press and release) on a focused
// button counts as a click, a lone release does not (its press may have closed a message box);
// the space bar never does; F2..F12 released on a button reach the main window as
// function keys. The memory view's three view-mode controls can be locked while a page is
// drawn: a locked one ignores presses altogether. A radio button or check box whose command
// the main window refuses just now (its group waits for an operation) keeps its mark.

#include <QCheckBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>

#include "controls/control_host.h"

namespace koru {

// Virtual-key codes of the function keys that reach the main window.
inline constexpr int kVkF2 = 0x71;
inline constexpr int kVkF12 = 0x7B;

class CMybtn {
  public:
    virtual ~CMybtn() = default;

    // Locks or unlocks the control. The lock only affects the view-mode controls 165..167.
    void SetLocked(bool locked) { m_locked = locked; }
    bool IsLocked() const { return m_locked; }
    // A left press is pending (pressed on this button, not yet released).
    bool IsPressed() const { return m_pressed; }

    virtual QAbstractButton& Widget() = 0;

  protected:
    // Returns false when a left press must be ignored entirely (locked view-mode control).
    bool BeginLeftPress();
    // After the base class handled a left release at pos (widget coordinates).
    void EndLeftRelease(QPoint pos);
    // Notes an Enter press; returns true for key presses that never reach the base class
    // (space, Enter, arrows).
    bool KeyPressed(const QKeyEvent& event);
    // Key releases never reach the base class.
    void KeyReleased(const QKeyEvent& event);
    // After the base class handled a focus loss: a push button drops its default frame.
    void FocusLost();
    // False while the main window would refuse this control's command: its mark stays.
    bool MayChangeMark();

  private:
    void SendClick();

    bool m_pressed = false;
    bool m_enterPressed = false;
    bool m_locked = false;
};

template <class Base>
class CMybtnOf : public Base, public CMybtn {
  public:
    CMybtnOf(int id, const QString& text, QWidget* parent) : Base(text, parent) {
        SetControlId(this, id);
    }

    QAbstractButton& Widget() override { return *this; }

  protected:
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && !BeginLeftPress()) {
            event->accept();
            return;
        }
        Base::mousePressEvent(event);
    }

    void mouseReleaseEvent(QMouseEvent* event) override {
        Base::mouseReleaseEvent(event);
        if (event->button() == Qt::LeftButton) {
            EndLeftRelease(event->position().toPoint());
        }
    }

    void keyPressEvent(QKeyEvent* event) override {
        if (KeyPressed(*event)) {
            event->accept();
            return;
        }
        Base::keyPressEvent(event);
    }

    void keyReleaseEvent(QKeyEvent* event) override {
        KeyReleased(*event);
        event->accept();
    }

    void focusOutEvent(QFocusEvent* event) override {
        Base::focusOutEvent(event);
        FocusLost();
    }

    void nextCheckState() override {
        if (MayChangeMark()) {
            Base::nextCheckState();
        }
    }

    // The whole button reacts to the mouse, not only its indicator and text.
    bool hitButton(const QPoint& pos) const override { return this->rect().contains(pos); }
};

using CMyPushButton = CMybtnOf<QPushButton>;
using CMyRadioButton = CMybtnOf<QRadioButton>;
using CMyCheckBox = CMybtnOf<QCheckBox>;

}  // namespace koru

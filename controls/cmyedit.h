#pragma once

// CMyedit: every edit field of the main window and of the cell editor. All but the file-name
// field take only hexadecimal digits and backspace; Enter in the display-address field and a
// double-click on the file-name, checksum or status field stand in for other controls. As on a
// button, Enter acts on its release only after a press seen by the same field.

#include <QLineEdit>

namespace koru {

// The status line's double-click area: this many pixels from the left of its text rectangle,
// where a running HEX save shows its stop hint.
inline constexpr int kSaveStopHintWidth = 140;

class CMyedit : public QLineEdit {
  public:
    CMyedit(int id, QWidget* parent);

    // Typed letters appear in upper case.
    void SetUpperCase(bool upper) { m_upperCase = upper; }
    bool IsUpperCase() const { return m_upperCase; }

    // The rectangle the text is laid out in, in widget coordinates.
    QRect FormattingRect() const;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    bool m_upperCase = false;
    bool m_enterPressed = false;
};

}  // namespace koru

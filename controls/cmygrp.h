#pragma once

// CMygrp: the group boxes of the main window. It colours two of its children: the checksum
// field always blue, the status line red while the main window reports a failure and blue
// otherwise. The colour is settled each time the child paints, so the status line follows
// FailureFlag at its next repaint. The frame line runs through the middle of the caption, as on
// a classic group box, so the frame sits where the window's layout expects it.

#include <QColor>
#include <QGroupBox>

namespace koru {

inline const QColor kStatusFailureColour{255, 0, 0};
inline const QColor kStatusNormalColour{0, 0, 255};

class CMygrp : public QGroupBox {
  public:
    CMygrp(int id, const QString& title, QWidget* parent);

  protected:
    void childEvent(QChildEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace koru

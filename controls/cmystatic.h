#pragma once

// CMystatic: the labels of the main window and its web link. Labels ignore the mouse; the link
// tells the main window when it is pressed (so that it repaints in the pressed colour) and,
// when released strictly inside itself after a press, opens the maker's web page.

#include <QLabel>
#include <QString>

namespace koru {

// The maker's web page opened by the link and shown in the window's caption.
QString WebAddress();

class CMystatic : public QLabel {
  public:
    CMystatic(int id, const QString& text, QWidget* parent);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    bool IsLink() const;
};

}  // namespace koru

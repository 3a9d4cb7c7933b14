#pragma once

// The real main window with its modal boxes and the cell editor answered by the test: every box
// is recorded and answered with its positive button, the cell editor returns scripted values.

#include <QString>
#include <deque>
#include <optional>
#include <vector>

#include "window/programmer_dlg.h"

namespace koru::test {

struct ShownBox {
    QString caption;
    QString text;
    MessageIcon icon;
    MessageButtons buttons;
};

struct EditRequest {
    QString value;
    QString address;
};

class TestWindow : public CProgrammerDlg {
  public:
    MessageAnswer ShowMessage(const QString& caption, const QString& text, MessageIcon icon,
                              MessageButtons buttons) override;
    std::optional<QString> RunEditDialog(const QString& value, const QString& address) override;

    // Values the next cell edits return with OK, in order; none queued means Cancel.
    void QueueEditAnswer(const QString& value) { m_editAnswers.push_back(value); }

    std::vector<ShownBox> boxes;
    std::vector<EditRequest> editRequests;

  private:
    std::deque<QString> m_editAnswers;
};

// The colour a widget was last painted in for role: paints it first.
QColor PaintedColour(QWidget* widget, QPalette::ColorRole role);

}  // namespace koru::test

#pragma once

// The real main window with its modal boxes and the cell editor answered by the test: every box
// is recorded and answered with its positive button, the cell editor returns scripted values.

#include <QString>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "window/programmer_dlg.h"
#include "window/set_count_dialog.h"
#include "window/window_job.h"

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

    std::optional<QString> RunFileDialog(FileDialogKind kind, const QString& filter) override;
    std::optional<QString> AskText(const QString& caption, const QString& label,
                                   bool secret) override;
    bool RunJobSaveDialog(JobSaveChoice& choice) override;

    // Texts the next questions return, in order; none queued means Cancel. Every question asked
    // is kept.
    void QueueTextAnswer(const QString& text) { m_textAnswers.push_back(text); }
    std::vector<QString> questions;
    // Answers the job save dialog; unset means Cancel.
    std::function<bool(JobSaveChoice&)> jobSaveDialog;
    bool RunCounterDialog(CounterSettings& settings) override;

    // Paths the next file dialogs return, in order; none queued means Cancel.
    void QueueFileAnswer(const QString& path) { m_fileAnswers.push_back(path); }
    // Answers the counter settings dialog: edits the settings and returns true for OK. Unset
    // means Cancel.
    std::function<bool(CounterSettings&)> counterDialog;
    std::vector<CounterSettings> counterDialogShown;
    std::vector<QString> fileFilters;

    // Values the next cell edits return with OK, in order; none queued means Cancel.
    void QueueEditAnswer(const QString& value) { m_editAnswers.push_back(value); }

    // When set, the boxes and the counter dialog are the real ones, run modally (still
    // recorded); the test answers them with events.
    bool realDialogs = false;

    std::vector<ShownBox> boxes;
    std::vector<EditRequest> editRequests;

  private:
    std::deque<QString> m_editAnswers;
    std::deque<QString> m_fileAnswers;
    std::deque<QString> m_textAnswers;
};

// The colour a widget was last painted in for role: paints it first.
QColor PaintedColour(QWidget* widget, QPalette::ColorRole role);

}  // namespace koru::test

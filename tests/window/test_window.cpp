#include "tests/window/test_window.h"

#include <QWidget>

namespace koru::test {

MessageAnswer TestWindow::ShowMessage(const QString& caption, const QString& text, MessageIcon icon,
                                      MessageButtons buttons) {
    boxes.push_back({caption, text, icon, buttons});
    if (realDialogs) {
        return CProgrammerDlg::ShowMessage(caption, text, icon, buttons);
    }
    return buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
}

std::optional<QString> TestWindow::RunEditDialog(const QString& value, const QString& address) {
    editRequests.push_back({value, address});
    if (m_editAnswers.empty()) {
        return std::nullopt;
    }
    const QString answer = m_editAnswers.front();
    m_editAnswers.pop_front();
    return answer;
}

std::optional<QString> TestWindow::RunFileDialog(FileDialogKind, const QString& filter) {
    fileFilters.push_back(filter);
    if (m_fileAnswers.empty()) {
        return std::nullopt;
    }
    const QString answer = m_fileAnswers.front();
    m_fileAnswers.pop_front();
    return answer;
}

std::optional<QString> TestWindow::AskText(const QString&, const QString& label, bool) {
    questions.push_back(label);
    if (m_textAnswers.empty()) {
        return std::nullopt;
    }
    const QString answer = m_textAnswers.front();
    m_textAnswers.pop_front();
    return answer;
}

bool TestWindow::RunJobSaveDialog(JobSaveChoice& choice) {
    return jobSaveDialog ? jobSaveDialog(choice) : false;
}

bool TestWindow::RunCounterDialog(CounterSettings& settings) {
    counterDialogShown.push_back(settings);
    if (realDialogs) {
        return CProgrammerDlg::RunCounterDialog(settings);
    }
    return counterDialog ? counterDialog(settings) : false;
}

QColor PaintedColour(QWidget* widget, QPalette::ColorRole role) {
    widget->repaint();
    return widget->palette().color(role);
}

}  // namespace koru::test

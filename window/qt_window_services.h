#pragma once

// The window services supplied by the main window. A call from a worker thread runs on the
// window's thread while the worker waits; a call on the window's thread runs at once. The
// window's thread never waits for a worker, so the two cannot block each other.

#include <QString>

#include "core/services.h"

namespace koru {

class CProgrammerDlg;

class QtWindowServices final : public WindowServices {
  public:
    explicit QtWindowServices(CProgrammerDlg& window) : m_window(window) {}

    ChoiceState GetChoice(Choice choice) override;
    std::string ReadField(TextField field) override;
    void WriteField(TextField field, const std::string& text) override;
    void SetStatusLine(const std::string& text) override;
    void RefreshCursor() override;
    void LockViewControls(bool locked) override;
    void RestartTick() override;
    MessageAnswer ShowMessageBox(const std::string& caption, const std::string& text,
                                 MessageIcon icon, MessageButtons buttons) override;
    std::optional<std::string> ShowFileDialog(FileDialogKind kind,
                                              const std::string& filter) override;
    void ShowMemoryPage(const MemoryPageText& page) override;

  private:
    template <class Fn>
    auto OnWindowThread(Fn fn) -> decltype(fn());

    CProgrammerDlg& m_window;
};

// The control that shows a choice or a field.
int ChoiceControlId(Choice choice);
int FieldControlId(TextField field);

// A filter of the form "hex文件(*.hex)|*.hex|OBJ文件(*.*)|*.obj||" as Qt's file dialogs take it:
// one "description (pattern)" entry per pair, separated by ";;".
QString ToQtFileFilter(const std::string& filter);

}  // namespace koru

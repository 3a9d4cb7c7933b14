#pragma once

// A WindowServices for tests: selections and fields are settable, every status text, message
// box, cursor refresh, lock and tick restart is recorded, and the answers to message boxes and
// file dialogs are scripted. Safe to call from workers while the test thread reads it.

#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/services.h"

namespace koru::test {

struct RecordedMessageBox {
    std::string caption;
    std::string text;
    MessageIcon icon;
    MessageButtons buttons;
};

struct RecordedFileDialog {
    FileDialogKind kind;
    std::string filter;
};

class RecordingWindowServices final : public WindowServices {
  public:
    // Installs itself as the process's window services for its lifetime.
    RecordingWindowServices();
    ~RecordingWindowServices() override;

    // Scripting.
    void SetChoice(Choice choice, bool marked, bool available = true);
    void SetField(TextField field, const std::string& text);
    // Answers for the next message boxes, in order; when none is queued the box gets the
    // positive answer of its buttons (Ok or Yes).
    void QueueMessageAnswer(MessageAnswer answer);
    // Answers for the next file dialogs, in order; when none is queued the dialog is cancelled.
    void QueueFileDialogAnswer(std::optional<std::string> path);

    // Observations.
    std::string Field(TextField field) const;
    std::string StatusLine() const;  // the last text, "" when none was set
    std::vector<std::string> StatusHistory() const;
    // FailureFlag at the moment each status text was set: the colour it was first shown in.
    std::vector<int> StatusFailureFlags() const;
    std::vector<RecordedMessageBox> MessageBoxes() const;
    std::vector<RecordedFileDialog> FileDialogs() const;
    std::vector<MemoryPageText> MemoryPages() const;
    std::vector<bool> LockCalls() const;  // true = lock, false = unlock
    int CursorRefreshes() const;
    int TickRestarts() const;
    void ClearRecords();

    // WindowServices.
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
    mutable std::mutex mutex_;
    std::map<Choice, ChoiceState> choices_;
    std::map<TextField, std::string> fields_;
    std::vector<std::string> statusHistory_;
    std::vector<int> statusFailureFlags_;
    std::vector<RecordedMessageBox> messageBoxes_;
    std::deque<MessageAnswer> messageAnswers_;
    std::vector<RecordedFileDialog> fileDialogs_;
    std::deque<std::optional<std::string>> fileAnswers_;
    std::vector<MemoryPageText> memoryPages_;
    std::vector<bool> lockCalls_;
    int cursorRefreshes_ = 0;
    int tickRestarts_ = 0;
};

}  // namespace koru::test

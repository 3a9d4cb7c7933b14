#pragma once

// The window services of koru-cli: the selections come from the command line, the status
// line goes to standard error as it changes, message boxes are printed, and questions take
// the --yes answer.

#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "core/services.h"

namespace koru::cli {

struct ConsoleSelections {
    bool otp = false;
    std::uint32_t autoOptions = 0;  // the marked option boxes
    bool fast = true;
    bool yes = false;
    std::string openPath;  // the file an open dialog "chooses"
    std::string savePath;  // the file a save dialog "chooses"
};

class ConsoleWindowServices final : public WindowServices {
  public:
    // err: where status lines and boxes go; progress rewrites one line when err is a terminal.
    ConsoleWindowServices(ConsoleSelections selections, std::FILE* err);

    // Ends a rewriting progress line, so that what follows starts on a line of its own.
    void FinishLine();
    std::string LastStatus() const;
    // Whether a link failure was handled (it restarts the tick) since the last reset.
    bool LinkFailed() const;
    void ResetLinkFailed();
    bool IsOtp() const { return selections_.otp; }
    // Whether a question was answered no for want of --yes.
    bool QuestionRefused() const;

    ChoiceState GetChoice(Choice choice) override;
    std::string ReadField(TextField field) override;
    void WriteField(TextField field, const std::string& text) override;
    void SetStatusLine(const std::string& text) override;
    void RefreshCursor() override {}
    void LockViewControls(bool) override {}
    void RestartTick() override;
    MessageAnswer ShowMessageBox(const std::string& caption, const std::string& text,
                                 MessageIcon icon, MessageButtons buttons) override;
    std::optional<std::string> ShowFileDialog(FileDialogKind kind,
                                              const std::string& filter) override;
    void ShowMemoryPage(const MemoryPageText&) override {}

  private:
    void FinishLineLocked();

    mutable std::mutex mutex_;
    ConsoleSelections selections_;
    std::FILE* err_;
    bool rewrite_;
    bool lineOpen_ = false;
    std::map<TextField, std::string> fields_;
    std::string lastStatus_;
    bool linkFailed_ = false;
    bool questionRefused_ = false;
};

}  // namespace koru::cli

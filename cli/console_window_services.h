#pragma once

// The window services of koru-cli: the selections come from the command line, the status
// line goes to standard error as it changes, message boxes are printed, and questions take
// the --yes answer. On a terminal a long step shows one progress line, redrawn in place and
// replaced by the step's result; elsewhere every status is a line of its own, as it came.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "core/services.h"
#include "operations/progress_meter.h"

namespace koru::cli {

struct ConsoleSelections {
    bool otp = false;
    std::uint32_t autoOptions = 0;  // the marked option boxes
    bool fast = true;
    bool yes = false;
    std::string openPath;  // the file an open dialog "chooses"
    std::string savePath;  // the file a save dialog "chooses"
};

// How the status line is shown on standard error.
enum class StatusDisplay {
    Lines,        // every status as a line of its own (a file or a pipe)
    Terminal,     // one line rewritten in place; long steps show their figures there
    FigureLines,  // as Lines, but a long step's progress as its figures (a gang's port run)
};

struct ConsoleDisplay {
    StatusDisplay status = StatusDisplay::Lines;
    bool quiet = false;  // results only: no announcements, no progress
};

// The display for err: Terminal on a terminal, else Lines (FigureLines when figureLines).
ConsoleDisplay DisplayFor(std::FILE* err, bool quiet, bool figureLines);

class ConsoleWindowServices final : public WindowServices {
  public:
    // err: where status lines and boxes go, shown as display says.
    ConsoleWindowServices(ConsoleSelections selections, std::FILE* err, ConsoleDisplay display);
    ~ConsoleWindowServices() override;
    ConsoleWindowServices(const ConsoleWindowServices&) = delete;
    ConsoleWindowServices& operator=(const ConsoleWindowServices&) = delete;

    // Ends a rewriting progress line, so that what follows starts on a line of its own, and
    // stops redrawing the step's figures.
    void FinishLine();
    std::string LastStatus() const;
    // Whether a link failure was handled (it restarts the tick) since the last reset.
    bool LinkFailed() const;
    void ResetLinkFailed();
    bool IsOtp() const { return selections_.otp; }
    // Whether a question was answered no for want of --yes.
    bool QuestionRefused() const;
    // observer sees every status text as it is shown, and whether it states a step's result
    // (the event stream); called with the console's lock held, so it must not call back.
    using StatusObserver = std::function<void(const std::string& text, bool result)>;
    void SetStatusObserver(StatusObserver observer);

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
    using Clock = std::chrono::steady_clock;

    void FinishLineLocked();
    // Shows one progress text as its figures; false when it is no progress text.
    bool ShowProgressLocked(const std::string& text);
    void DrawProgressLocked(const ProgressFigures& figures, Clock::time_point now);
    void RewriteLocked(const std::string& text);
    // Redraws a running step's figures while its texts are far apart (or, for erase, absent),
    // so that its time goes on counting.
    void TickUntilStopped();

    mutable std::mutex mutex_;
    ConsoleSelections selections_;
    std::FILE* err_;
    ConsoleDisplay display_;
    bool lineOpen_ = false;
    ProgressMeter meter_;
    Clock::time_point lastDrawn_;
    std::uint64_t recordsSeen_ = 0;
    std::map<TextField, std::string> fields_;
    std::string lastStatus_;
    bool linkFailed_ = false;
    bool questionRefused_ = false;
    bool stopping_ = false;
    StatusObserver statusObserver_;
    std::condition_variable tick_;
    std::thread ticker_;  // last: it starts once everything else is in place
};

}  // namespace koru::cli

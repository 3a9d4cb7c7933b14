#include "cli/console_window_services.h"

#include <filesystem>

#include "core/shared_state.h"
#include "core/step_report.h"
#include "image/program_memory.h"
#include "platform/terminal.h"

namespace koru::cli {
namespace {

// Whether a box's buttons make it a question.
bool IsQuestion(MessageButtons buttons) {
    return buttons != MessageButtons::Ok;
}

// A progress line is redrawn at most this often; a step's first and last are drawn at once.
constexpr auto kRedrawPeriod = std::chrono::milliseconds(100);

}  // namespace

ConsoleDisplay DisplayFor(std::FILE* err, bool quiet, bool figureLines) {
    ConsoleDisplay display;
    display.quiet = quiet;
    if (IsTerminal(err)) {
        display.status = StatusDisplay::Terminal;
    } else if (figureLines) {
        display.status = StatusDisplay::FigureLines;
    }
    return display;
}

ConsoleWindowServices::ConsoleWindowServices(ConsoleSelections selections, std::FILE* err,
                                             ConsoleDisplay display)
    : selections_(std::move(selections)),
      err_(err),
      display_(display),
      recordsSeen_(OutcomeRecords()) {
    if (display_.status != StatusDisplay::Lines && !display_.quiet) {
        ticker_ = std::thread([this] { TickUntilStopped(); });
    }
}

ConsoleWindowServices::~ConsoleWindowServices() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    tick_.notify_all();
    if (ticker_.joinable()) {
        ticker_.join();
    }
}

void ConsoleWindowServices::TickUntilStopped() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        tick_.wait_for(lock, kRedrawPeriod);
        const Clock::time_point now = Clock::now();
        if (stopping_ || now - lastDrawn_ < kRedrawPeriod) {
            continue;
        }
        if (const auto figures = meter_.Current(now)) {
            DrawProgressLocked(*figures, now);
        }
    }
}

void ConsoleWindowServices::FinishLineLocked() {
    if (lineOpen_) {
        std::fputc('\n', err_);
        lineOpen_ = false;
    }
    std::fflush(err_);
}

void ConsoleWindowServices::FinishLine() {
    std::lock_guard lock(mutex_);
    meter_.End();  // nothing is redrawn over what follows
    FinishLineLocked();
}

std::string ConsoleWindowServices::LastStatus() const {
    std::lock_guard lock(mutex_);
    return lastStatus_;
}

bool ConsoleWindowServices::LinkFailed() const {
    std::lock_guard lock(mutex_);
    return linkFailed_;
}

void ConsoleWindowServices::ResetLinkFailed() {
    std::lock_guard lock(mutex_);
    linkFailed_ = false;
}

bool ConsoleWindowServices::QuestionRefused() const {
    std::lock_guard lock(mutex_);
    return questionRefused_;
}

void ConsoleWindowServices::SetStatusObserver(StatusObserver observer) {
    std::lock_guard lock(mutex_);
    statusObserver_ = std::move(observer);
}

ChoiceState ConsoleWindowServices::GetChoice(Choice choice) {
    const bool mtp = !selections_.otp;
    auto option = [&](std::uint32_t bit, bool mtpOnly) {
        return ChoiceState{(selections_.autoOptions & bit) != 0, !mtpOnly || mtp};
    };
    // Availability follows the window: the MTP-only controls and SAM4/SAM8 are disabled for
    // OTP chips; CalmRisc, ARM and 3.3V are never available.
    switch (choice) {
        case Choice::SerialOtp:
            return {selections_.otp, true};
        case Choice::SerialMtp:
            return {mtp, true};
        case Choice::DataSam:
            return {true, mtp};
        case Choice::Vdd50:
            return {true, true};
        case Choice::AutoReadProtect:
            return option(kAutoReadProtect, false);
        case Choice::AutoLdcProtect:
            return option(kAutoLdcProtect, true);
        case Choice::AutoBlankCheck:
            return option(kAutoBlankCheck, false);
        case Choice::AutoHwProtect:
            return option(kAutoHwProtect, true);
        case Choice::AutoSmart:
            return option(kAutoSmart, true);
        case Choice::AutoVerify:
            return option(kAutoVerify, false);
        case Choice::AutoEraseMtp:
            return option(kAutoEraseMtp, true);
        case Choice::FastMode:
            return {selections_.fast, true};
        case Choice::DataCalmRisc:
        case Choice::DataArm:
        case Choice::Vdd33:
        case Choice::ChipView:
        case Choice::AsciiView:
            break;
    }
    return {};
}

std::string ConsoleWindowServices::ReadField(TextField field) {
    std::lock_guard lock(mutex_);
    const auto it = fields_.find(field);
    return it == fields_.end() ? std::string() : it->second;
}

void ConsoleWindowServices::WriteField(TextField field, const std::string& text) {
    std::lock_guard lock(mutex_);
    fields_[field] = text;
}

void ConsoleWindowServices::RewriteLocked(const std::string& text) {
    std::fprintf(err_, "\r%s\033[K", text.c_str());
    lineOpen_ = true;
    std::fflush(err_);
}

bool ConsoleWindowServices::ShowProgressLocked(const std::string& text) {
    const Clock::time_point now = Clock::now();
    const auto figures = meter_.Update(text, StartAddress, EndAddress, now);
    if (!figures) {
        return false;
    }
    if (!display_.quiet && (figures->first || now - lastDrawn_ >= kRedrawPeriod)) {
        DrawProgressLocked(*figures, now);
    }
    return true;
}

void ConsoleWindowServices::DrawProgressLocked(const ProgressFigures& figures,
                                               Clock::time_point now) {
    lastDrawn_ = now;
    if (display_.status == StatusDisplay::Terminal) {
        RewriteLocked(ProgressText(figures));
    } else {
        std::fprintf(err_, "%s\n", ProgressText(figures).c_str());
        std::fflush(err_);
    }
}

void ConsoleWindowServices::SetStatusLine(const std::string& text) {
    std::lock_guard lock(mutex_);
    lastStatus_ = text;
    // A status shown as an outcome is recorded is a step's result; so is the lost link's text,
    // which may come after the loss was recorded.
    const std::uint64_t records = OutcomeRecords();
    const bool result = records != recordsSeen_ || text == kLinkLostText;
    recordsSeen_ = records;
    if (result) {
        meter_.End();
    }
    if (statusObserver_) {
        statusObserver_(text, result);
    }
    if (display_.status != StatusDisplay::Lines && !result && ShowProgressLocked(text)) {
        return;
    }
    if (display_.quiet && !result) {
        return;
    }
    if (display_.status != StatusDisplay::Terminal) {
        std::fprintf(err_, "%s\n", text.c_str());
        return;
    }
    RewriteLocked(text);
    if (result) {
        FinishLineLocked();  // a result stays; what follows starts a line of its own
    }
}

void ConsoleWindowServices::RestartTick() {
    std::lock_guard lock(mutex_);
    linkFailed_ = true;
}

MessageAnswer ConsoleWindowServices::ShowMessageBox(const std::string& caption,
                                                    const std::string& text, MessageIcon,
                                                    MessageButtons buttons) {
    std::lock_guard lock(mutex_);
    FinishLineLocked();
    std::fprintf(err_, "[%s] %s\n", caption.c_str(), text.c_str());
    if (!IsQuestion(buttons)) {
        std::fflush(err_);
        return MessageAnswer::Ok;
    }
    const bool yes = selections_.yes;
    if (!yes) {
        questionRefused_ = true;
    }
    std::fprintf(err_, "%s\n", yes ? "(answered yes: --yes)" : "(not confirmed: pass --yes)");
    std::fflush(err_);
    if (buttons == MessageButtons::YesNo) {
        return yes ? MessageAnswer::Yes : MessageAnswer::No;
    }
    return yes ? MessageAnswer::Ok : MessageAnswer::Cancel;
}

std::optional<std::string> ConsoleWindowServices::ShowFileDialog(FileDialogKind kind,
                                                                 const std::string&) {
    const std::string& path =
        kind == FileDialogKind::Open ? selections_.openPath : selections_.savePath;
    if (path.empty()) {
        return std::nullopt;
    }
    // A file dialog answers with a full path.
    std::error_code error;
    const std::filesystem::path full = std::filesystem::absolute(path, error);
    return error ? path : full.string();
}

}  // namespace koru::cli

#include "window/counters.h"

#include <QAbstractButton>

#include "core/shared_state.h"
#include "image/numbers.h"
#include "resources/dialog_texts.h"
#include "window/set_count_dialog.h"

namespace koru {
namespace {

constexpr int kIdSuccessField = 179;
constexpr int kIdFailureField = 180;
constexpr int kIdShowCounters = 171;
constexpr int kIdPauseButton = 175;

constexpr std::uint8_t kClearedDigits = 5;     // "00000" after start-up and clearing
constexpr std::uint8_t kStartValueDigits = 6;  // start values are shown with six digits
constexpr int kFieldTextLimit = 15;            // what the dialog's buffers take of a field

// Shows paused or counting: the button's caption and whether the count fields are enabled.
void ShowCountingState(CounterWindow& window, bool paused) {
    qobject_cast<QAbstractButton*>(window.Control(kIdPauseButton))
        ->setText(QString::fromUtf8(paused ? kResumeCaption : kPauseCaption));
    window.Control(kIdSuccessField)->setEnabled(!paused);
    window.Control(kIdFailureField)->setEnabled(!paused);
}

QString DecimalText(std::uint32_t value, std::uint8_t digits) {
    return QString::fromStdString(Decimal(value, digits));
}

}  // namespace

void ClearCounters(CounterWindow& window) {
    const MessageAnswer answer =
        window.ShowMessage(QString::fromUtf8(kClearCaption), QString::fromUtf8(kClearQuestion),
                           MessageIcon::Question, MessageButtons::OkCancel);
    if (answer != MessageAnswer::Ok) {
        return;
    }
    window.SetFieldText(kIdSuccessField, DecimalText(0, kClearedDigits));
    window.SetFieldText(kIdFailureField, DecimalText(0, kClearedDigits));
    SuccessCount = 0;
    FailureCount = 0;
}

void TogglePausedCounting(CounterWindow& window) {
    const std::uint32_t before = AutoFunc.fetch_xor(kFuncCountingPaused);
    ShowCountingState(window, (before & kFuncCountingPaused) == 0);
}

void ShowCountersAsMarked(CounterWindow& window) {
    window.SetWindowRegion(window.IsMarked(kIdShowCounters) ? kRegionCountersShown
                                                            : kRegionCountersHidden);
}

std::optional<std::uint32_t> CounterStartValue(const QString& text) {
    const std::string digits = text.toStdString();
    if (!AllCharsIn(digits, "0123456789")) {
        return std::nullopt;
    }
    std::string lastSix;
    if (!FitDigits(digits, lastSix, kStartValueDigits)) {
        return std::nullopt;  // longer than any field could hold
    }
    return ParseNumber(lastSix, 10);
}

void OpenCounterSettings(CounterWindow& window) {
    CounterSettings settings;
    settings.successText = window.FieldText(kIdSuccessField).left(kFieldTextLimit);
    settings.failureText = window.FieldText(kIdFailureField).left(kFieldTextLimit);
    settings.flags = AutoCount.load() & kCounterDialogFlags;
    if (window.RunCounterDialog(settings)) {
        ApplyCounterSettings(window, settings);
    }
}

void ApplyCounterSettings(CounterWindow& window, const CounterSettings& settings) {
    const std::optional<std::uint32_t> success = CounterStartValue(settings.successText);
    const std::optional<std::uint32_t> failure = CounterStartValue(settings.failureText);
    if (!success || !failure) {
        window.ShowMessage(QString::fromUtf8(kCounterDialogCaption),
                           QString::fromUtf8(kBadStartValueText), MessageIcon::Warning,
                           MessageButtons::Ok);
        return;
    }
    SuccessCount = *success;
    window.SetFieldText(kIdSuccessField, DecimalText(*success, kStartValueDigits));
    FailureCount = *failure;
    window.SetFieldText(kIdFailureField, DecimalText(*failure, kStartValueDigits));

    AutoFunc.fetch_and(~kFuncCountingPaused);
    AutoFunc.fetch_or(kFuncAlwaysSet);
    ShowCountingState(window, false);
    AutoCount = settings.flags;
}

}  // namespace koru

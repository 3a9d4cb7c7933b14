#pragma once

// The counter commands of the group "编程计数": clear, pause toggle, show/hide and the counter
// settings. They run on the window's thread and are never refused while a worker runs; the
// counts are atomics, so a clear that meets a run's increment never tears a count.

#include <QString>
#include <cstdint>
#include <optional>

#include "core/services.h"

class QWidget;

namespace koru {

struct CounterSettings;

// Heights of the window region in window coordinates: the counter group is cut off at 440 and
// shown at 700.
inline constexpr int kRegionCountersHidden = 440;
inline constexpr int kRegionCountersShown = 700;

// What the counter commands need of the window: its boxes, the counter controls by id, the
// region that shows or hides the counter group, and the counter settings dialog. The main
// window implements it.
class CounterWindow {
  public:
    virtual MessageAnswer ShowMessage(const QString& caption, const QString& text, MessageIcon icon,
                                      MessageButtons buttons) = 0;
    // nullptr for an unknown id.
    virtual QWidget* Control(int id) const = 0;
    virtual bool IsMarked(int id) const = 0;
    virtual QString FieldText(int id) const = 0;
    virtual void SetFieldText(int id, const QString& text) = 0;
    // Clips the window to the given height (kRegionCountersHidden or kRegionCountersShown).
    virtual void SetWindowRegion(int height) = 0;
    // True (with settings updated) after OK.
    virtual bool RunCounterDialog(CounterSettings& settings) = 0;

  protected:
    ~CounterWindow() = default;
};

// "清零": after the operator confirms, both counts become 0 and both fields "00000".
void ClearCounters(CounterWindow& window);

// "暂停计数"/"开始计数": flips the paused bit of autofunc and shows the new state.
void TogglePausedCounting(CounterWindow& window);

// "显示计数器": the window region shows the counter group while the box is marked.
void ShowCountersAsMarked(CounterWindow& window);

// "设置计数器": runs the settings dialog and applies what its OK returned.
void OpenCounterSettings(CounterWindow& window);

// Applies the dialog's answer: the start values, counting resumed, autocount. A start value
// with anything but digits is refused with a box, and then nothing changes.
void ApplyCounterSettings(CounterWindow& window, const CounterSettings& settings);

// A start value: the last six characters of text, zero-padded on the left when shorter, read
// as a decimal number. Nothing when text holds any character that is not a digit.
std::optional<std::uint32_t> CounterStartValue(const QString& text);

inline constexpr char kClearCaption[] = "确 认";
inline constexpr char kClearQuestion[] = "计数器将被清零!确定吗?";
inline constexpr char kPauseCaption[] = "暂停计数";
inline constexpr char kResumeCaption[] = "开始计数";
inline constexpr char kBadStartValueText[] = "计数器初始值只能由数字组成,计数未改变!";

}  // namespace koru

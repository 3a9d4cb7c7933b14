#pragma once

// The counter commands of the group "编程计数": clear, pause toggle, show/hide and the counter
// settings. They run on the window's thread and are never refused while a worker runs; the
// counts are atomics, so a clear that meets a run's increment never tears a count.

#include <QString>
#include <cstdint>
#include <optional>

namespace koru {

class CProgrammerDlg;
struct CounterSettings;

// "清零": after the operator confirms, both counts become 0 and both fields "00000".
void ClearCounters(CProgrammerDlg& window);

// "暂停计数"/"开始计数": flips the paused bit of autofunc and shows the new state.
void TogglePausedCounting(CProgrammerDlg& window);

// "显示计数器": the window region shows the counter group while the box is marked.
void ShowCountersAsMarked(CProgrammerDlg& window);

// "设置计数器": runs the settings dialog and applies what its OK returned.
void OpenCounterSettings(CProgrammerDlg& window);

// Applies the dialog's answer: the start values, counting resumed, autocount. A start value
// with anything but digits is refused with a box, and then nothing changes.
void ApplyCounterSettings(CProgrammerDlg& window, const CounterSettings& settings);

// A start value: the last six characters of text, zero-padded on the left when shorter, read
// as a decimal number. Nothing when text holds any character that is not a digit.
std::optional<std::uint32_t> CounterStartValue(const QString& text);

inline constexpr char kClearCaption[] = "确 认";
inline constexpr char kClearQuestion[] = "计数器将被清零!确定吗?";
inline constexpr char kPauseCaption[] = "暂停计数";
inline constexpr char kResumeCaption[] = "开始计数";
inline constexpr char kBadStartValueText[] = "计数器初始值只能由数字组成,计数未改变!";

}  // namespace koru

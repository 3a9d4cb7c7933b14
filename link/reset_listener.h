#pragma once

// The short-lived listener that notices the programmer's unprompted "ZEPHRESET" between
// operations. The window's timers call OnListenTick once a second; a probe and the operation
// runner call EndResetListener before they touch the port. All three run on the window's
// thread only.

namespace koru {

// Starts a listener thread when no operation runs and no listener still holds the port (a
// tick that falls on a running listener is skipped, so two never share the port).
void OnListenTick();

// Asks a running listener to stop and waits until it has let go of the port and the image.
// When the listener had already heard a restart (and blanked the image), the reset text is
// shown here, before the caller's own texts, unless the listener has shown it itself. Its
// thread holds nothing the caller needs afterwards. Returns at once when no listener runs.
void EndResetListener();

// True while a listener still holds the port.
bool ResetListenerRunning();

// Listener threads that have not yet returned (a finished listener may still be reporting).
// For tests and shut-down, which must not tear down what a listener still uses.
int LiveListenerThreads();

// The listener's body (also run directly by tests): listens about 50 ms for the announcement.
// On a match the image is blanked, CodeLoadedFlag cleared, and the reset text shown; a silent
// listen leaves FailureFlag as it found it.
void ResetListener();

inline constexpr char kProgrammerResetText[] =
    "OK,检测到 KORU-V2.0B 已复位!请点击[下载文件代码]按钮以刷新编程器内存代码";

}  // namespace koru

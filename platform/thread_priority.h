#pragma once

namespace koru {

enum class PriorityResult { RealTime, Raised, Unchanged };

// Raises the calling thread to the highest priority the process may have: SCHED_FIFO at its
// top priority where permitted (root, CAP_SYS_NICE, an rtprio limit), else the lowest nice
// value allowed. A bounded number of attempts: an unprivileged process never hangs here.
PriorityResult RaiseToTimeCritical();

}  // namespace koru

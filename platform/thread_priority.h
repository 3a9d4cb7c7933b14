#pragma once

namespace koru {

enum class PriorityResult { RealTime, Raised, Unchanged };

// Raises the calling thread to the highest priority the process may have: SCHED_FIFO at its
// top priority where permitted (root, CAP_SYS_NICE), else SCHED_FIFO at the highest priority
// the rtprio limit allows, else the lowest nice value allowed. A bounded number of attempts: an
// unprivileged process never hangs here.
PriorityResult RaiseToTimeCritical();

// The real-time priority to ask for when wanted is refused and the rtprio soft limit is limit
// (RLIM_INFINITY: none): wanted when the limit allows it, else the limit; 0 means none.
int RealTimePriorityWithin(int wanted, unsigned long long limit);

}  // namespace koru

#include "platform/thread_priority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace koru {
namespace {

constexpr int kAttempts = 3;  // a refusal is final; retries only cover a passing EAGAIN
constexpr int kBestNice = -20;

bool TrySchedFifo(int priority) {
    sched_param param{};
    param.sched_priority = priority;
    for (int i = 0; i < kAttempts; ++i) {
        if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

int RealTimePriorityWithin(int wanted, unsigned long long limit) {
    if (limit == RLIM_INFINITY || limit >= static_cast<unsigned long long>(wanted)) {
        return wanted;
    }
    return static_cast<int>(limit);  // 0: no real-time priority allowed
}

PriorityResult RaiseToTimeCritical() {
    const int top = sched_get_priority_max(SCHED_FIFO);
    if (TrySchedFifo(top)) {
        return PriorityResult::RealTime;
    }
    // An unprivileged user may still be granted some real-time priority (RLIMIT_RTPRIO, e.g.
    // through limits.conf for the "audio" group): take the highest it allows.
    rlimit limit{};
    if (getrlimit(RLIMIT_RTPRIO, &limit) == 0) {
        const int allowed = RealTimePriorityWithin(top, limit.rlim_cur);
        if (allowed >= sched_get_priority_min(SCHED_FIFO) && allowed > 0 && allowed < top &&
            TrySchedFifo(allowed)) {
            return PriorityResult::RealTime;
        }
    }
    // On Linux the nice value is per thread: lower it as far as the limits allow.
    const auto tid = static_cast<id_t>(syscall(SYS_gettid));
    const int current = getpriority(PRIO_PROCESS, tid);
    for (int nice = kBestNice; nice < current; ++nice) {
        if (setpriority(PRIO_PROCESS, tid, nice) == 0) {
            return PriorityResult::Raised;
        }
    }
    return PriorityResult::Unchanged;
}

}  // namespace koru

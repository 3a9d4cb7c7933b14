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

}  // namespace

PriorityResult RaiseToTimeCritical() {
    sched_param param{};
    param.sched_priority = sched_get_priority_max(SCHED_FIFO);
    for (int i = 0; i < kAttempts; ++i) {
        if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0) {
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

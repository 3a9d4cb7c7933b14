#include <windows.h>

#include "platform/thread_priority.h"

namespace koru {
namespace {

constexpr int kAttempts = 3;  // a refusal is final; the retries only cover a passing failure

bool SetPriority(int priority) {
    for (int i = 0; i < kAttempts; ++i) {
        if (::SetThreadPriority(::GetCurrentThread(), priority) != 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

PriorityResult RaiseToTimeCritical() {
    if (SetPriority(THREAD_PRIORITY_TIME_CRITICAL)) {
        return PriorityResult::RealTime;
    }
    return SetPriority(THREAD_PRIORITY_HIGHEST) ? PriorityResult::Raised
                                                : PriorityResult::Unchanged;
}

}  // namespace koru

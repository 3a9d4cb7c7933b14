#include "operations/auto_run_report.h"

#include <mutex>

namespace koru {
namespace {

std::mutex observerMutex;
AutoRunObserver installedObserver;

}  // namespace

void SetAutoRunObserver(AutoRunObserver observer) {
    std::lock_guard lock(observerMutex);
    installedObserver = std::move(observer);
}

void ReportAutoRun(const AutoRunReport& report) {
    AutoRunObserver observer;
    {
        std::lock_guard lock(observerMutex);
        observer = installedObserver;
    }
    if (observer) {
        observer(report);
    }
}

}  // namespace koru

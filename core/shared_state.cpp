#include "core/shared_state.h"

namespace koru {

std::atomic<int> FailureFlag{0};
std::atomic<int> BusyFlag{0};
std::atomic<int> AutoRunFlag{0};
std::atomic<int> CountFailureFlag{0};
std::atomic<int> PortSelectedFlag{0};
std::atomic<int> ProgrammerFoundFlag{0};
std::atomic<int> SaveStopRequest{0};

std::atomic<std::uint32_t> AutoOptions{0};
std::atomic<std::uint32_t> AutoFunc{0};
std::atomic<std::uint32_t> AutoCount{0};

std::atomic<std::uint32_t> SuccessCount{0};
std::atomic<std::uint32_t> FailureCount{0};

void ZeroSharedFlags() {
    FailureFlag = 0;
    BusyFlag = 0;
    AutoRunFlag = 0;
    CountFailureFlag = 0;
    PortSelectedFlag = 0;
    ProgrammerFoundFlag = 0;
    SaveStopRequest = 0;
}

}  // namespace koru

// DelayMs where no absolute monotonic sleep of the system is at hand: a sleep until a deadline
// on the steady clock, so a change of the wall clock moves nothing and an early wake-up sleeps
// again for the rest.

#include <chrono>
#include <thread>

#include "platform/delay.h"

namespace koru {

void DelayMs(std::uint32_t ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_until(until);
    }
}

}  // namespace koru

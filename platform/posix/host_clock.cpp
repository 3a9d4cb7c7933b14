#include "platform/host_clock.h"
#include "platform/local_clock.h"

#include <unistd.h>

#include <array>
#include <ctime>

namespace koru {

LocalClockReading ReadLocalClock(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    LocalClockReading clock;
    localtime_r(&seconds, &clock.parts);
    clock.offsetMinutes = clock.parts.tm_gmtoff / 60;
    return clock;
}

long ProcessId() {
    return static_cast<long>(::getpid());
}

std::string HostName() {
    std::array<char, 256> name{};
    if (::gethostname(name.data(), name.size() - 1) != 0 || name[0] == '\0') {
        return "unknown";
    }
    return name.data();
}

}  // namespace koru

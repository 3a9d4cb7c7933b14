#include "platform/host_clock.h"
#include "platform/local_clock.h"

#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <ctime>
#include <fstream>
#include <string>

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

bool ProcessRunning(long pid) {
    if (pid <= 0) {
        return false;
    }
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) {
        return false;
    }
    // A zombie has ended: only its exit status waits to be collected.
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text)) {
        return true;  // no /proc to ask: the signal test is all there is
    }
    const std::size_t state = text.rfind(") ");
    return state == std::string::npos || state + 2 >= text.size() ||
           (text[state + 2] != 'Z' && text[state + 2] != 'X');
}

std::string HostName() {
    std::array<char, 256> name{};
    if (::gethostname(name.data(), name.size() - 1) != 0 || name[0] == '\0') {
        return "unknown";
    }
    return name.data();
}

}  // namespace koru

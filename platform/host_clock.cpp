#include "platform/host_clock.h"

#include <unistd.h>

#include <array>
#include <cstdio>
#include <ctime>

namespace koru {
namespace {

std::tm LocalParts(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm parts{};
    localtime_r(&seconds, &parts);
    return parts;
}

}  // namespace

std::string HostName() {
    std::array<char, 256> name{};
    if (::gethostname(name.data(), name.size() - 1) != 0 || name[0] == '\0') {
        return "unknown";
    }
    return name.data();
}

std::string LocalTimeText(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    // to_time_t truncates towards zero on this clock; keep the milliseconds of that second.
    const auto sinceEpoch = when.time_since_epoch();
    const auto millis = duration_cast<milliseconds>(sinceEpoch - floor<seconds>(sinceEpoch));
    const std::tm parts = LocalParts(when);
    const long offsetMinutes = parts.tm_gmtoff / 60;
    const long absolute = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld",
                  parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
                  parts.tm_min, parts.tm_sec, static_cast<int>(millis.count()),
                  offsetMinutes < 0 ? '-' : '+', absolute / 60, absolute % 60);
    return text.data();
}

std::string LocalDateText(std::chrono::system_clock::time_point when) {
    const std::tm parts = LocalParts(when);
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "%04d-%02d-%02d", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday);
    return text.data();
}

}  // namespace koru

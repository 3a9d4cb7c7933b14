#include <array>
#include <cstdio>

#include "platform/host_clock.h"
#include "platform/local_clock.h"

namespace koru {

std::string LocalTimeText(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    // to_time_t truncates towards zero on this clock; keep the milliseconds of that second.
    const auto sinceEpoch = when.time_since_epoch();
    const auto millis = duration_cast<milliseconds>(sinceEpoch - floor<seconds>(sinceEpoch));
    const LocalClockReading clock = ReadLocalClock(when);
    const std::tm& parts = clock.parts;
    const long absolute = clock.offsetMinutes < 0 ? -clock.offsetMinutes : clock.offsetMinutes;
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld",
                  parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
                  parts.tm_min, parts.tm_sec, static_cast<int>(millis.count()),
                  clock.offsetMinutes < 0 ? '-' : '+', absolute / 60, absolute % 60);
    return text.data();
}

std::string LocalDateText(std::chrono::system_clock::time_point when) {
    const std::tm parts = ReadLocalClock(when).parts;
    std::array<char, 32> text{};  // room for any int the format allows
    std::snprintf(text.data(), text.size(), "%04d-%02d-%02d", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday);
    return text.data();
}

}  // namespace koru

#include <windows.h>

#include <array>
#include <cstdio>
#include <ctime>

#include "platform/host_clock.h"

namespace koru {
namespace {

std::tm LocalParts(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm parts{};
    ::localtime_s(&parts, &seconds);
    return parts;
}

// Local time minus UTC at that moment, in minutes.
long OffsetMinutes(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm utc{};
    ::gmtime_s(&utc, &seconds);
    utc.tm_isdst = -1;  // let mktime decide, as for the local reading
    std::tm local = LocalParts(when);
    return static_cast<long>(std::difftime(std::mktime(&local), std::mktime(&utc)) / 60) +
           (local.tm_isdst > 0 ? 60 : 0);
}

}  // namespace

std::string HostName() {
    std::array<char, MAX_COMPUTERNAME_LENGTH + 1> name{};
    DWORD size = name.size();
    if (::GetComputerNameA(name.data(), &size) == 0 || size == 0) {
        return "unknown";
    }
    return std::string(name.data(), size);
}

std::string LocalTimeText(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto sinceEpoch = when.time_since_epoch();
    const auto millis = duration_cast<milliseconds>(sinceEpoch - floor<seconds>(sinceEpoch));
    const std::tm parts = LocalParts(when);
    const long offsetMinutes = OffsetMinutes(when);
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

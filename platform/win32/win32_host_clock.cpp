#include <windows.h>

#include <array>
#include <ctime>

#include "platform/host_clock.h"
#include "platform/local_clock.h"

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

LocalClockReading ReadLocalClock(std::chrono::system_clock::time_point when) {
    return {LocalParts(when), OffsetMinutes(when)};
}

long ProcessId() {
    return static_cast<long>(::GetCurrentProcessId());
}

bool ProcessRunning(long pid) {
    if (pid <= 0) {
        return false;
    }
    const HANDLE process =
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr) {
        return ::GetLastError() == ERROR_ACCESS_DENIED;
    }
    DWORD code = 0;
    const bool running = ::GetExitCodeProcess(process, &code) != 0 && code == STILL_ACTIVE;
    ::CloseHandle(process);
    return running;
}

std::string HostName() {
    std::array<char, MAX_COMPUTERNAME_LENGTH + 1> name{};
    DWORD size = name.size();
    if (::GetComputerNameA(name.data(), &size) == 0 || size == 0) {
        return "unknown";
    }
    return std::string(name.data(), size);
}

}  // namespace koru

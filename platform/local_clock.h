#pragma once

// What each backend reads of the local clock; host_clock_text.cpp turns it into the record's
// texts, the same on every system.

#include <chrono>
#include <ctime>

namespace koru {

struct LocalClockReading {
    std::tm parts{};         // local calendar time of the whole second
    long offsetMinutes = 0;  // local time minus UTC at that moment
};

LocalClockReading ReadLocalClock(std::chrono::system_clock::time_point when);

}  // namespace koru

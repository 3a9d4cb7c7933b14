#pragma once

// The machine's name and local time as a production record states them.

#include <chrono>
#include <string>

namespace koru {

// This machine's host name; "unknown" when the system does not say.
std::string HostName();

// This process's id, to name who holds a reserved serial value.
long ProcessId();

// Whether a process of that id runs on this machine now (one that exists but is not ours to
// signal counts as running; an ended one waiting for its parent does not).
bool ProcessRunning(long pid);

// Local time with milliseconds and its offset from UTC, as in "2026-12-07T16:05:09.042+01:00".
std::string LocalTimeText(std::chrono::system_clock::time_point when);

// The local date, as in "2026-12-07".
std::string LocalDateText(std::chrono::system_clock::time_point when);

}  // namespace koru

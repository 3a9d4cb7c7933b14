#pragma once

// Process-wide state shared by the window's thread, the operation worker and the reset
// listener. Each value is an atomic with the plain integer meaning the rest of the program
// gives it; nothing here holds a lock.

#include <atomic>
#include <cstdint>

namespace koru {

// The current step failed; the only result of an operation. Set by any failure, cleared by
// whoever starts a sequence.
extern std::atomic<int> FailureFlag;
// 1 while an operation worker runs (and while a port probe holds the port).
extern std::atomic<int> BusyFlag;
// 1 while an auto-programming run is in progress; its steps then leave BusyFlag alone.
extern std::atomic<int> AutoRunFlag;
// Non-zero while a failed auto-programming run may be counted; every link failure clears it.
extern std::atomic<int> CountFailureFlag;
// A COM port has been chosen in this run.
extern std::atomic<int> PortSelectedFlag;
// The programmer answered on the chosen port, or announced a restart there.
extern std::atomic<int> ProgrammerFoundFlag;
// Set from the window to stop a running HEX save after its current block.
extern std::atomic<int> SaveStopRequest;

// Option words, persisted under the names "auto", "autofunc" and "autocount".
extern std::atomic<std::uint32_t> AutoOptions;
extern std::atomic<std::uint32_t> AutoFunc;
extern std::atomic<std::uint32_t> AutoCount;

// Bits of AutoOptions: which auto-programming steps are ticked.
inline constexpr std::uint32_t kAutoReadProtect = 0x01;
inline constexpr std::uint32_t kAutoLdcProtect = 0x02;
inline constexpr std::uint32_t kAutoBlankCheck = 0x04;
inline constexpr std::uint32_t kAutoHwProtect = 0x08;
inline constexpr std::uint32_t kAutoSmart = 0x10;
inline constexpr std::uint32_t kAutoVerify = 0x20;
inline constexpr std::uint32_t kAutoEraseMtp = 0x40;

// Bits of AutoFunc.
inline constexpr std::uint32_t kFuncAlwaysSet = 0x01;
inline constexpr std::uint32_t kFuncCountingPaused = 0x02;
inline constexpr std::uint32_t kFuncLockedProduction = 0x08;
inline constexpr std::uint32_t kFuncBuzzerOn = 0x20;

// Counts of auto-programming runs since start-up; never saved.
extern std::atomic<std::uint32_t> SuccessCount;
extern std::atomic<std::uint32_t> FailureCount;

// Zeroes the flags that the window's initialisation zeroes (the option words and the
// counts are left to the settings load and the counter start-up).
void ZeroSharedFlags();

}  // namespace koru

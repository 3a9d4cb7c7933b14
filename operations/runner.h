#pragma once

// Runs every chip and file operation on a worker thread, never on the window's thread, and
// keeps BusyFlag, FailureFlag, the cursor and the view-control lock around it.

#include <cstdint>

namespace koru {

// Operation codes handed to the runner (the one-shot commands are in one_shot.h).
inline constexpr std::uint8_t kChipChecksum = 2;
inline constexpr std::uint8_t kBlankCheck = 3;
inline constexpr std::uint8_t kVerifyChip = 5;
inline constexpr std::uint8_t kProgramChip = 11;
inline constexpr std::uint8_t kBufferChecksum = 14;
inline constexpr std::uint8_t kAutoProgram = 15;
inline constexpr std::uint8_t kSaveHexFile = 16;
inline constexpr std::uint8_t kCopyChipToImage = 17;
inline constexpr std::uint8_t kLoadCodeFile = 18;
inline constexpr std::uint8_t kChooseAndLoadCodeFile = 19;
inline constexpr std::uint8_t kFirstMemoryPageCode = 30;  // 30..255: one page of the memory view

// On the window's thread: refuses without a selected port, ends a running reset listener,
// fills the command block and starts the worker at time-critical priority. BusyFlag is set
// before this returns, so neither a timer tick nor a second click can slip in before the
// worker runs. Returns without waiting for the worker.
void StartOperation(std::uint8_t code);

// For a front end whose own thread only waits (koru-cli, benchmarks): starts the operation as
// StartOperation does and returns once its worker thread has ended (joined, so the wait cannot
// outlive the thread).
void RunOperationToEnd(std::uint8_t code);

// Runs one step synchronously on the calling thread (auto-programming runs its steps so).
void RunOperation(std::uint8_t code);

// The worker's body: busy bookkeeping around a dispatch on CommandBlock byte 4. Under
// AutoRunFlag it leaves BusyFlag, the cursor and the lock as they are.
void OperationWorker();

// Worker threads that have not yet returned. For tests and shut-down only: the window's thread
// never waits for a worker.
int LiveOperationWorkers();

inline constexpr char kOperationFailedText[] = "操作失败";

}  // namespace koru

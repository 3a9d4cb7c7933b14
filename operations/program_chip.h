#pragma once

#include <atomic>

namespace koru {

// Set when the program step starts sending the image's bytes: from then on the chip may hold
// them. Auto-programming clears it at the start of each run.
extern std::atomic<bool> ProgramDataStarted;

// Code 11, a step of auto-programming only: sends the image bytes of the range in blocks of 8
// (the last block carries the bytes after the end address) and has the programmer check them
// against the checksum in the command block.
void ProgramChip();

// Code 3: asks the programmer whether the chip is blank over the range. Progress reports come
// as it goes; one above the end address means blank, silence means not blank at the last
// address reported (or the start when none came).
void BlankCheck();

}  // namespace koru

#pragma once

// Per-chip data for auto-programming: a front end with a serial job installs a source; each
// run takes one value from it, stamps it into the image for that chip only and tells the
// source afterwards whether the value reached a chip (spent) or not (released).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/outcome.h"

namespace koru {

// One value handed to one chip.
struct ChipSerialValue {
    std::string job;
    std::uint32_t address = 0;
    std::vector<std::uint8_t> bytes;
    std::string label;  // as people read it: decimal for counters, hexadecimal bytes otherwise
};

// What a run learns from the source before its first step.
struct ChipSerialGrant {
    bool granted = false;
    bool usedUp = false;  // the job has no value left
    ChipSerialValue value;
    std::string refusal;  // why not, when not granted
};

class ChipSerialSource {
  public:
    virtual ~ChipSerialSource() = default;
    // Reserves the next value for this chip (called on the worker, before any traffic).
    virtual ChipSerialGrant Reserve() = 0;
    // Data for the chip is about to go out (called before the program step): the value must
    // be known, durably, to be on its way to this chip. False, with the reason, when that
    // cannot be made sure: the chip is then refused before any data.
    virtual bool StartSending(const ChipSerialValue& value, std::string& refusal) = 0;
    // The run ended: spent when the program step sent data, else the value goes back.
    virtual void Finish(const ChipSerialValue& value, bool spent, const Outcome& outcome) = 0;
};

// Installs the source of every following run; nullptr: runs without per-chip data. Install it
// while no run is going on.
void SetChipSerialSource(std::shared_ptr<ChipSerialSource> source);
std::shared_ptr<ChipSerialSource> CurrentChipSerialSource();

inline constexpr char kSerialUsedUpText[] = "序列号已用完";

// Why a value at address of size bytes cannot be stamped at all: the command block carries
// the loaded image's bytes at 0003C..0003F to the programmer, so a value there would not be
// what the chip gets. Empty when it can.
std::string SerialOverBlockBytesProblem(std::uint32_t address, std::size_t size);

// Why value cannot go into the range start..end of the image; empty when it fits.
std::string SerialPlacementProblem(std::uint32_t address, std::size_t size, std::uint32_t start,
                                   std::uint32_t end);

}  // namespace koru

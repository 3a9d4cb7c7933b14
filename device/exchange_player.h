#pragma once

// The device's side of one exchange, played after its command block was taken.

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "device/chip.h"
#include "device/device_line.h"
#include "device/simulator.h"

namespace koru::device {

using Block = std::array<std::uint8_t, kBlockSize>;

// A 24-bit number of the block, most significant byte first, starting at byte at.
inline std::uint32_t BlockField24(const Block& block, std::size_t at) {
    return std::uint32_t{block[at]} << 16 | std::uint32_t{block[at + 1]} << 8 | block[at + 2];
}

// What an exchange works on. mutex guards chip and exchanges (whose last entry is this
// exchange's record); changed is notified when a record changes.
struct ExchangeContext {
    DeviceLine& line;
    std::mutex& mutex;
    std::condition_variable& changed;
    ChipState& chip;
    std::vector<ReceivedExchange>& exchanges;
};

// Sends the answer to the block, then the command's own replies and data, and takes its data
// phase, all as scripted. Returns when the exchange is over, the device fell silent, or the
// line was interrupted (a stop or a hang-up request).
void PlayExchange(const ExchangeContext& context, const Block& block, const CommandScript& script,
                  const DeviceTiming& timing);

}  // namespace koru::device

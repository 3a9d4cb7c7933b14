#include "operations/chip_serial.h"

#include <mutex>

#include "image/numbers.h"
#include "image/program_memory.h"
#include "link/command_block.h"

namespace koru {
namespace {

std::mutex sourceMutex;
std::shared_ptr<ChipSerialSource> installedSource;

}  // namespace

void SetChipSerialSource(std::shared_ptr<ChipSerialSource> source) {
    std::lock_guard lock(sourceMutex);
    installedSource = std::move(source);
}

std::shared_ptr<ChipSerialSource> CurrentChipSerialSource() {
    std::lock_guard lock(sourceMutex);
    return installedSource;
}

std::string SerialOverBlockBytesProblem(std::uint32_t address, std::size_t size) {
    const std::uint64_t last = std::uint64_t{address} + size - 1;
    constexpr std::uint32_t kFirst = kBlockImageBytesAddress;
    constexpr std::uint32_t kLast = kBlockImageBytesAddress + kBlockImageBytesCount - 1;
    if (size != 0 && address <= kLast && last >= kFirst) {
        return "the serial value at " + Hex(address, 5) + ".." +
               Hex(static_cast<std::uint32_t>(last), 5) + " overlaps " + Hex(kFirst, 5) + ".." +
               Hex(kLast, 5) + ", which the command block carries as loaded";
    }
    return {};
}

std::string SerialPlacementProblem(std::uint32_t address, std::size_t size, std::uint32_t start,
                                   std::uint32_t end) {
    const std::uint64_t last = std::uint64_t{address} + size - 1;
    if (size == 0 || last >= kImageSize) {
        return "the serial value at " + Hex(address, 5) + " does not lie inside the image";
    }
    if (std::string problem = SerialOverBlockBytesProblem(address, size); !problem.empty()) {
        return problem;
    }
    if (address < start || last > end) {
        return "the serial value at " + Hex(address, 5) + ".." +
               Hex(static_cast<std::uint32_t>(last), 5) + " lies outside the programmed range " +
               Hex(start, 5) + ".." + Hex(end, 5);
    }
    return {};
}

}  // namespace koru

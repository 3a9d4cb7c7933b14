#include "device/chip.h"

#include <algorithm>

namespace koru::device {
namespace {

constexpr std::uint8_t kErase = 4;
constexpr std::uint8_t kSmart = 6;
constexpr std::uint8_t kReadProtect = 7;
constexpr std::uint8_t kLdcProtect = 8;
constexpr std::uint8_t kHwWriteProtect = 9;

const std::string kOk = "OK";
const std::string kRefused = "NO";

}  // namespace

std::uint8_t ReadChipByte(const ChipState& chip, std::uint32_t address) {
    if (chip.protection.read) {
        return 0x00;
    }
    return address < chip.contents.size() ? chip.contents[address] : kChipBlank;
}

bool ProgramChip(ChipState& chip, std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
    if (chip.protection.hardwareWrite) {
        return false;
    }
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::uint64_t at = std::uint64_t{address} + i;
        if (at < chip.contents.size()) {
            chip.contents[at] &= bytes[i];
        }
    }
    return true;
}

std::string ApplyOneShot(ChipState& chip, std::uint8_t code) {
    const bool mtp = chip.kind == ChipKind::Mtp;
    switch (code) {
        case kErase:
            if (!mtp || chip.protection.hardwareWrite) {
                return kRefused;
            }
            std::fill(chip.contents.begin(), chip.contents.end(), kChipBlank);
            chip.protection.read = false;
            chip.protection.ldc = false;
            return kOk;
        case kSmart:
            if (!mtp) {
                return kRefused;
            }
            chip.protection.smart = true;
            return kOk;
        case kReadProtect:
            chip.protection.read = true;
            return kOk;
        case kLdcProtect:
            if (!mtp) {
                return kRefused;
            }
            chip.protection.ldc = true;
            return kOk;
        case kHwWriteProtect:
            if (!mtp) {
                return kRefused;
            }
            chip.protection.hardwareWrite = true;
            return kOk;
        default:
            return kRefused;
    }
}

}  // namespace koru::device

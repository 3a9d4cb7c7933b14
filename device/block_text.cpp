#include <string>

#include "device/exchange_player.h"
#include "device/simulator.h"
#include "image/numbers.h"

namespace koru::device {
namespace {

const char* CommandName(std::uint8_t code) {
    switch (code) {
        case kCodeProbe:
            return "probe";
        case kCodeChecksum:
            return "chip checksum";
        case kCodeBlankCheck:
            return "blank check";
        case kCodeErase:
            return "erase MTP";
        case kCodeSmart:
            return "enable SMART";
        case kCodeReadProtect:
            return "read protection";
        case kCodeLdcProtect:
            return "LDC protection";
        case kCodeHwWriteProtect:
            return "hardware write protection";
        case kCodeReadChip:
            return "read chip";
        case kCodeProgram:
            return "program";
        default:
            return "unknown";
    }
}

}  // namespace

std::string DescribeBlock(const std::array<std::uint8_t, kBlockSize>& block) {
    std::string text = "code " + Decimal(block[4], 1) + " (" + CommandName(block[4]) + ")";
    text += " chip " + Hex(block[5], 2) + " data " + Hex(block[6], 2) + " vdd " + Hex(block[7], 2);
    text += " auto " + Hex(block[8], 2);
    text += " range " + Hex(BlockField24(block, 9), 5) + ".." + Hex(BlockField24(block, 12), 5);
    text += " sum " + Hex(static_cast<std::uint32_t>(block[15] << 8 | block[16]), 4);
    text += " bytes3C";
    for (std::size_t i = 17; i < kBlockSize; ++i) {
        text += " " + Hex(block[i], 2);
    }
    return text;
}

}  // namespace koru::device

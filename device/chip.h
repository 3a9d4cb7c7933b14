#pragma once

// The chip in the simulated programmer's socket: its size, contents, kind and protections, and
// what each chip command does to it. Not thread-safe; the simulator guards it.

#include <cstdint>
#include <string>
#include <vector>

namespace koru::device {

inline constexpr std::uint8_t kChipBlank = 0xFF;  // erased / never programmed
inline constexpr std::uint32_t kDefaultChipSize = 0x10000;

// OTP: one-time programmable; MTP: erasable (multi-time programmable).
enum class ChipKind { Otp, Mtp };

struct ChipProtection {
    bool read = false;           // reads give 0x00
    bool ldc = false;            // MTP only
    bool hardwareWrite = false;  // MTP only: programming and erasing are refused
    bool smart = false;          // the SMART system is enabled (MTP only)
    bool operator==(const ChipProtection&) const = default;
};

struct ChipState {
    ChipKind kind = ChipKind::Mtp;
    ChipProtection protection;
    std::vector<std::uint8_t> contents = std::vector<std::uint8_t>(kDefaultChipSize, kChipBlank);
};

// Addresses beyond the chip read as blank and ignore writes.
std::uint8_t ReadChipByte(const ChipState& chip, std::uint32_t address);

// Programs bytes from address on. Programming can only clear bits (on both kinds: an MTP chip
// has to be erased to set them again). False, with the chip unchanged, when write protected.
bool ProgramChip(ChipState& chip, std::uint32_t address, const std::vector<std::uint8_t>& bytes);

// The one-shot commands (erase 4, SMART 6, read protection 7, LDC protection 8, hardware write
// protection 9): returns the device's status, "OK" or "NO", and changes the chip on "OK".
std::string ApplyOneShot(ChipState& chip, std::uint8_t code);

}  // namespace koru::device

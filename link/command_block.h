#pragma once

// The 21-byte record that opens every exchange with the programmer. Multi-byte numbers are
// most significant byte first.
//
//   0..3   "ZEPH"                      9..11  start address, 24 bits
//   4      operation code              12..14 end address (inclusive), 24 bits
//   5      chip kind: 1 OTP, 2 MTP     15..16 programming-memory checksum
//   6      data type: 1 SAM4/SAM8, 2 CalmRisc, 3 ARM
//   7      Vdd: 1 = 5.0 V, 2 = 3.3 V   17..20 image bytes at 0x3C..0x3F
//   8      low byte of the auto option bits
//
// A byte nobody writes keeps its previous value; a probe first fills all 21 with 0x55.

#include <array>
#include <cstdint>

#include "core/services.h"
#include "core/shared_state.h"

namespace koru {

inline constexpr std::size_t kCommandBlockSize = 21;
inline constexpr std::uint8_t kCommandBlockFiller = 0x55;

inline constexpr std::size_t kBlockCode = 4;
inline constexpr std::size_t kBlockChipKind = 5;
inline constexpr std::size_t kBlockDataType = 6;
inline constexpr std::size_t kBlockVdd = 7;
inline constexpr std::size_t kBlockAutoLow = 8;
inline constexpr std::size_t kBlockStart = 9;
inline constexpr std::size_t kBlockEnd = 12;
inline constexpr std::size_t kBlockChecksum = 15;
inline constexpr std::size_t kBlockImageBytes = 17;
// The image bytes the block carries (as loaded when the block is refreshed).
inline constexpr std::uint32_t kBlockImageBytesAddress = 0x3C;
inline constexpr std::uint32_t kBlockImageBytesCount = 4;

// Chip kinds as the block carries them.
inline constexpr std::uint8_t kChipOtp = 1;
inline constexpr std::uint8_t kChipMtp = 2;

// The seven auto-programming option boxes and the bit each sets in the auto word.
struct AutoOptionBox {
    Choice choice;
    std::uint32_t bit;
};
inline constexpr std::array<AutoOptionBox, 7> kAutoOptionBoxes{{
    {Choice::AutoReadProtect, kAutoReadProtect},
    {Choice::AutoLdcProtect, kAutoLdcProtect},
    {Choice::AutoBlankCheck, kAutoBlankCheck},
    {Choice::AutoHwProtect, kAutoHwProtect},
    {Choice::AutoSmart, kAutoSmart},
    {Choice::AutoVerify, kAutoVerify},
    {Choice::AutoEraseMtp, kAutoEraseMtp},
}};

// The one command block of the process. Written on the window's thread before a worker starts
// and by that worker while it runs; never by two threads at once.
extern std::array<std::uint8_t, kCommandBlockSize> CommandBlock;

// Byte 4: the code the worker dispatches on is the code the programmer receives.
std::uint8_t OperationCode();
void SetOperationCode(std::uint8_t code);

// Bytes 9..14: the range of a range operation.
void SetCommandRange(std::uint32_t first, std::uint32_t last);

// Fills bytes 0..3, 5..8 and 15..20 from the operator's selections, the checksum field and the
// image, and rebuilds AutoOptions from the available and marked option boxes.
void RefreshCommandBlock();

// The steps of RefreshCommandBlock that read one selection each: they write the matching byte
// only when a choice qualifies, so the byte keeps its last value otherwise.
void RefreshDataType();
void RefreshChipKind();
void RefreshVdd();
void RefreshAutoOptions();

}  // namespace koru

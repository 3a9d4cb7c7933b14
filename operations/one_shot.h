#pragma once

#include <cstdint>

namespace koru {

// Operation codes whose whole exchange is the command block and one two-byte status.
inline constexpr std::uint8_t kEraseMtp = 4;
inline constexpr std::uint8_t kEnableSmart = 6;
inline constexpr std::uint8_t kReadProtect = 7;
inline constexpr std::uint8_t kLdcProtect = 8;
inline constexpr std::uint8_t kHwWriteProtect = 9;

bool IsOneShotCommand(std::uint8_t code);

// Runs the one-shot command in CommandBlock byte 4. The address bytes keep whatever the last
// range operation stored. "OK" succeeds; "NO", "EV", anything else and silence fail.
void RunOneShotCommand(std::uint8_t code);

}  // namespace koru

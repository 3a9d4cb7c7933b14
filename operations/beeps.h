#pragma once

#include <cstdint>

namespace koru {

// count beeps of ms milliseconds at 1000 Hz with ms-long pauses between them, only while the
// buzzer option is on.
void BeepPattern(int count, std::uint32_t ms);

inline constexpr std::uint32_t kShortBeepMs = 100;
inline constexpr std::uint32_t kLongBeepMs = 500;

}  // namespace koru

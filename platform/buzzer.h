#pragma once

// The PC's buzzer. Beeps are synchronous: Beep returns when the tone has ended, since the beep
// patterns count on their pauses.

#include <cstdint>

namespace koru {

inline constexpr std::uint32_t kBeepHz = 1000;

class Buzzer {
  public:
    virtual ~Buzzer() = default;
    virtual void Beep(std::uint32_t frequencyHz, std::uint32_t ms) = 0;
};

// The buzzer of the process: the sound device where one opens, else the same time in silence.
Buzzer& TheBuzzer();
// Tests put a recording buzzer in its place; nullptr restores the default.
void InstallBuzzer(Buzzer* buzzer);

}  // namespace koru

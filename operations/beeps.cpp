#include "operations/beeps.h"

#include "core/shared_state.h"
#include "platform/buzzer.h"
#include "platform/delay.h"

namespace koru {

void BeepPattern(int count, std::uint32_t ms) {
    if ((AutoFunc & kFuncBuzzerOn) == 0) {
        return;
    }
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            DelayMs(kShortBeepMs);
        }
        TheBuzzer().Beep(kBeepHz, ms);
    }
}

}  // namespace koru

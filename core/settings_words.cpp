#include "core/settings_words.h"

#include "core/shared_state.h"

namespace koru {

std::uint32_t OptionMarksAfterLoad(std::uint32_t autoOptions, std::uint32_t autoFunc) {
    std::uint32_t marks = kAutoReadProtect | kAutoSmart | kAutoVerify;
    marks |= autoOptions & (kAutoBlankCheck | kAutoLdcProtect | kAutoHwProtect | kAutoEraseMtp);
    if ((autoFunc & kFuncLockedProduction) != 0) {
        marks |= kAutoHwProtect | kAutoEraseMtp;
    }
    return marks;
}

}  // namespace koru

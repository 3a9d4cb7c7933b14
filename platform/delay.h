#pragma once

#include <cstdint>

namespace koru {

// The pause primitive of the system: returns after ms milliseconds on the steady clock.
void DelayMs(std::uint32_t ms);

}  // namespace koru

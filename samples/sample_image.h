#pragma once

// The sample code image shipped as samples/demo.hex: 512 bytes at 0000..01FF, a counting
// pattern with the text "KORU DEMO IMAGE" at 0100. The demo opens it; the end-to-end test checks
// the chip against this.

#include <cstdint>
#include <string_view>

namespace koru::sample {

inline constexpr std::uint32_t kSampleEnd = 0x1FF;
inline constexpr std::uint32_t kSampleTextAddress = 0x100;
inline constexpr std::string_view kSampleText = "KORU DEMO IMAGE";

inline std::uint8_t SampleByte(std::uint32_t address) {
    if (address >= kSampleTextAddress && address < kSampleTextAddress + kSampleText.size()) {
        return static_cast<std::uint8_t>(kSampleText[address - kSampleTextAddress]);
    }
    return static_cast<std::uint8_t>(address * 7 + 0x31);
}

}  // namespace koru::sample

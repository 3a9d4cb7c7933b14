#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "image/numbers.h"

namespace koru::test {

// Intel HEX text of data from address 0: 16-byte data records with CR LF, as the program's
// own writer lays them out (no end-of-file record).
inline std::string HexFileOf(const std::vector<std::uint8_t>& data) {
    std::string text;
    for (std::size_t at = 0; at < data.size(); at += 16) {
        const std::size_t count = std::min<std::size_t>(16, data.size() - at);
        std::uint32_t sum = static_cast<std::uint32_t>(count + (at >> 8) + (at & 0xFF));
        std::string line = ":" + Hex(static_cast<std::uint32_t>(count), 2) +
                           Hex(static_cast<std::uint32_t>(at), 4) + "00";
        for (std::size_t i = 0; i < count; ++i) {
            line += Hex(data[at + i], 2);
            sum += data[at + i];
        }
        text += line + Hex((0x100 - (sum & 0xFF)) & 0xFF, 2) + "\r\n";
    }
    return text;
}

}  // namespace koru::test

#pragma once

#include <cstdint>

namespace koru {

// Reads the chip bytes first..last into buffer[0 .. last - first] in one exchange (command
// block with code, first status, data, 16-bit sum). The caller has checked the buffer's size.
// Any failure leaves FailureFlag = 1 and its status text.
void ReadChipBlock(std::uint8_t code, std::uint8_t* buffer, std::uint32_t first,
                   std::uint32_t last);

inline constexpr char kReadDataErrorText[] = "读取数据错误";

}  // namespace koru

#pragma once

#include <cstddef>
#include <cstdint>

namespace koru {

inline constexpr std::uint8_t kReadChipBlock = 10;   // read the block from the chip
inline constexpr std::uint8_t kReadImageBlock = 13;  // take the block from the image, no exchange

// Reads the bytes first..last (inclusive) into buffer[0 .. last - first]. With code 13 they
// come from the programming image and neither the port nor FailureFlag is touched; with code
// 10 they come from the chip in one exchange checked by its 16-bit sum. When capacity is too
// small a warning box is shown and FailureFlag set. The outcome is FailureFlag.
void ReadBlock(std::uint8_t code, std::uint8_t* buffer, std::size_t capacity, std::uint32_t first,
               std::uint32_t last);

// ReadBlock with code 10: the chip block reader the memory view is handed.
void ReadBlockFromChip(std::uint8_t* buffer, std::size_t capacity, std::uint32_t first,
                       std::uint32_t last);

}  // namespace koru

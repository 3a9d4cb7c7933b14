#pragma once

// Blocks of the programming image as the readers of a block see them: the room check every
// block read makes before it starts, and the copy out of the image itself.

#include <cstddef>
#include <cstdint>

namespace koru {

// True when the bytes first..last (inclusive) fit in capacity bytes. When they do not, a
// warning box is shown and FailureFlag set. last < first never fits.
bool BlockFitsBuffer(std::size_t capacity, std::uint32_t first, std::uint32_t last);

// Copies the image's bytes first..last into buffer[0 .. last - first]; the buffer must hold
// them. A range that does not lie in the image sets FailureFlag with "读取数据错误" and copies
// nothing. Neither the port nor the chip is touched.
void CopyImageBlock(std::uint8_t* buffer, std::uint32_t first, std::uint32_t last);

}  // namespace koru

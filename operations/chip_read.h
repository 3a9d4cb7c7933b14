#pragma once

#include <cstdint>

namespace koru {

// Code 17: after the operator confirms, overwrites the image over the range with the chip's
// contents, block by block, and shows their checksum.
void CopyChipToImage();

// Code 5: compares the chip with the image block by block and reports the first difference.
void VerifyChip();

// Code 2: the programmer sums the chip over the range. During auto-programming the sum is
// compared with the image's own. Returns the sum received, 0 when it failed.
std::uint16_t ChipChecksum();

}  // namespace koru

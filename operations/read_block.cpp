#include "operations/read_block.h"

#include "image/image_block.h"
#include "operations/chip_block.h"

namespace koru {

void ReadBlock(std::uint8_t code, std::uint8_t* buffer, std::size_t capacity, std::uint32_t first,
               std::uint32_t last) {
    if (!BlockFitsBuffer(capacity, first, last)) {
        return;
    }
    if (code != kReadImageBlock) {
        ReadChipBlock(code, buffer, first, last);
        return;
    }
    CopyImageBlock(buffer, first, last);
}

void ReadBlockFromChip(std::uint8_t* buffer, std::size_t capacity, std::uint32_t first,
                       std::uint32_t last) {
    ReadBlock(kReadChipBlock, buffer, capacity, first, last);
}

}  // namespace koru

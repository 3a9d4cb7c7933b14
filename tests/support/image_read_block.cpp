// A stand-in for the block read while it is not part of the logic library: the image path
// only. A chip read fails as it would without a programmer.

#include <cstring>

#include "core/shared_state.h"
#include "image/program_memory.h"
#include "operations/read_block.h"

namespace koru {

void ReadBlock(std::uint8_t code, std::uint8_t* buffer, std::size_t capacity, std::uint32_t first,
               std::uint32_t last) {
    if (code != kReadImageBlock || last < first || last >= kImageSize ||
        last - first + 1 > capacity) {
        FailureFlag = 1;
        return;
    }
    std::memcpy(buffer, ProgramMemory.data() + first, last - first + 1);
}

}  // namespace koru

#include "image/image_block.h"

#include <algorithm>

#include "core/services.h"
#include "core/shared_state.h"
#include "core/step_report.h"
#include "image/program_memory.h"

namespace koru {
namespace {

constexpr char kBufferTooSmall[] = "指定的缓冲区不足以容纳要读取的数据,操作将中止!";
constexpr char kReadFailed[] = "读取数据错误";

}  // namespace

bool BlockFitsBuffer(std::size_t capacity, std::uint32_t first, std::uint32_t last) {
    // Counted as the unsigned difference, so last < first asks for an impossible amount.
    const std::uint32_t count = last - first + 1;
    if (capacity >= count) {
        return true;
    }
    Window().ShowMessageBox("", kBufferTooSmall, MessageIcon::Warning, MessageButtons::Ok);
    FailureFlag = 1;
    return false;
}

void CopyImageBlock(std::uint8_t* buffer, std::uint32_t first, std::uint32_t last) {
    // A range that does not lie in the image cannot come from it; nothing is read outside it.
    if (!RangeInImage(first, last)) {
        FailureFlag = 1;
        ReportRefusal(kReadFailed);
        return;
    }
    std::copy_n(ProgramMemory.begin() + first, last - first + 1, buffer);
}

}  // namespace koru

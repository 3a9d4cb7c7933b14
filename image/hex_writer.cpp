#include "image/hex_writer.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "core/services.h"
#include "core/shared_state.h"
#include "core/step_report.h"
#include "image/hex_record.h"
#include "image/image_block.h"
#include "image/numbers.h"
#include "image/program_memory.h"
#include "platform/output_file.h"

namespace koru {
namespace {

// The save dialog's filter: HEX and OBJ files.
constexpr char kSaveFilter[] = "hex文件(*.hex)|*.hex|OBJ文件(*.*)|*.obj||";

constexpr std::uint32_t kBlockBytes = 256;           // the image is taken one page at a time
constexpr std::uint32_t kRecordBytes = 16;           // data bytes of a full record
constexpr unsigned kRegionShift = 16;                // a region is 64 KiB
constexpr std::uint32_t kSegmentPerRegion = 0x1000;  // segment value of region 1
constexpr std::uint8_t kProgressDigits = 5;
// Formatted text is handed to the file in pieces this long, which it writes without a copy.
constexpr std::size_t kBatchChars = OutputFile::kBufferBytes;
// A block's records at most: sixteen full data records and one segment record.
constexpr std::size_t kBlockChars = 17 * (1 + 2 * (4 + kRecordBytes + 1) + 2);

constexpr char kCannotCreate[] = "保存文件错误!";
constexpr char kProgress[] = "[双击这里中断操作] 读取编程内存数据并保存到文件, 地址: ";
constexpr char kStopped[] = "用户已中断操作!";
constexpr char kWriteFailed[] = "保存文件失败,磁盘空间可能不足或指定的目标文件写保护.";
constexpr char kSaved[] = "代码文件文件已成功保存在: ";

std::uint16_t SegmentOf(std::uint32_t region) {
    return static_cast<std::uint16_t>(region * kSegmentPerRegion);
}

// The progress text of one block, made once per save and updated in place: a status line
// per 256 bytes must not cost an allocation each.
class ProgressText {
  public:
    ProgressText() : text_(std::string(kProgress) + "00000~00000") {}

    const std::string& For(std::uint32_t first, std::uint32_t last) {
        Put(text_.size() - 2 * kProgressDigits - 1, first);
        Put(text_.size() - kProgressDigits, last);
        return text_;
    }

  private:
    void Put(std::size_t at, std::uint32_t address) {
        char digits[kProgressDigits + 1];  // an image address has five digits
        FormatNumber(address, digits, sizeof digits, 16, kProgressDigits);
        text_.replace(at, kProgressDigits, digits, kProgressDigits);
    }

    std::string text_;
};

std::mutex saveErrorMutex;
std::string saveError;

void SetSaveError(const std::string& text) {
    std::lock_guard lock(saveErrorMutex);
    saveError = text;
}

}  // namespace

std::string LastSaveErrorText() {
    std::lock_guard lock(saveErrorMutex);
    return saveError;
}

void SaveImageAsHex() {
    SetSaveError("");
    FailureFlag = 0;
    SaveStopRequest = 0;
    const std::uint32_t start = StartAddress;
    const std::uint32_t end = EndAddress;
    if (RefuseRangeOutsideImage(start, end)) {
        return;
    }
    const std::optional<std::string> path =
        Window().ShowFileDialog(FileDialogKind::Save, kSaveFilter);
    if (!path) {
        return;
    }
    OutputFile file;
    if (!file.Create(*path)) {
        SetSaveError(file.ErrorText());
        FailureFlag = 1;
        ReportRefusal(kCannotCreate);
        return;
    }

    std::uint32_t region = start >> kRegionShift;
    std::string lines;
    lines.reserve(kBatchChars + kBlockChars);
    ProgressText progress;
    if (region != 0) {
        AppendSegmentRecord(lines, SegmentOf(region));
    }
    std::array<std::uint8_t, kBlockBytes> block{};
    std::uint32_t a = start;  // the range lies in the image, so b + 1 never wraps
    while (a <= end) {
        if (SaveStopRequest != 0) {
            if (file.Append(lines) && file.Close()) {
                ReportRefusal(kStopped);
                return;
            }
            break;  // what was written before the stop did not all reach the file
        }
        const std::uint32_t b =
            (a / kBlockBytes == end / kBlockBytes) ? end : (a | (kBlockBytes - 1));
        Window().SetStatusLine(progress.For(a, b));
        CopyImageBlock(block.data(), a, b);  // b - a < kBlockBytes: it always fits
        if (FailureFlag != 0) {
            break;
        }
        for (std::uint32_t r = a; r <= b;) {
            if ((r >> kRegionShift) != region) {
                region = r >> kRegionShift;
                AppendSegmentRecord(lines, SegmentOf(region));
            }
            const std::uint32_t count =
                std::min<std::uint32_t>(kRecordBytes - r % kRecordBytes, b - r + 1);
            AppendDataRecord(lines, static_cast<std::uint16_t>(r & 0xFFFF),
                             std::span(block.data() + (r - a), count));
            r += count;
        }
        a = b + 1;
        if (lines.size() >= kBatchChars || a > end) {
            if (!file.Append(lines)) {
                break;
            }
            lines.clear();
        }
    }
    // A save cut short is never put in place: the file is dropped when it goes out of scope.
    const bool closed = a > end && file.Close();
    if (!closed) {
        SetSaveError(file.ErrorText());
        FailureFlag = 1;
        ReportRefusal(kWriteFailed);
        return;
    }
    ReportSuccess(kSaved + *path);
}

}  // namespace koru

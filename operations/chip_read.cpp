#include "operations/chip_read.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "core/services.h"
#include "core/shared_state.h"
#include "core/step_report.h"
#include "image/numbers.h"
#include "image/program_memory.h"
#include "link/command_block.h"
#include "link/connection.h"
#include "link/replies.h"
#include "link/transport.h"
#include "operations/link_faults.h"
#include "operations/progress_report.h"
#include "operations/progress_texts.h"
#include "operations/read_block.h"
#include "operations/runner.h"

namespace koru {
namespace {

constexpr std::uint32_t kBlockBytes = 256;  // one exchange reads at most this much
constexpr std::size_t kBlockBufferSize = 512;
constexpr std::uint32_t kAfterBlockMs = 200;         // pause after each block read
constexpr std::uint32_t kBeforeVerifyBlockMs = 700;  // without fast mode, before each block
constexpr std::size_t kStatusBufferSize = 16;
constexpr std::uint32_t kStatusLength = 2;
constexpr std::uint8_t kVerifyEnd[] = {'0', '0', '0', '0'};  // closes a verification

constexpr char kChecksumFailedText[] = "芯片检查和 =  XXXX";

std::uint32_t BlockEnd(std::uint32_t first, std::uint32_t end) {
    return std::min(first + (kBlockBytes - 1), end);
}

}  // namespace

void CopyChipToImage() {
    const MessageAnswer answer =
        Window().ShowMessageBox("警 告", "这个操作将改变编程内存代码数据,是否继续?,",
                                MessageIcon::Warning, MessageButtons::YesNo);
    if (answer != MessageAnswer::Yes) {
        ReportRefusal("操作已中止");
        return;
    }
    const std::uint32_t start = StartAddress;
    if (RefuseRangeOutsideImage(start, EndAddress)) {
        return;
    }
    ImageOverwrittenFlag = 1;
    std::uint8_t buffer[kBlockBufferSize];
    for (std::uint32_t a = start; a <= EndAddress && a < kImageSize;) {
        Window().SetStatusLine(kCopyChipText + Hex(a, 5));
        const std::uint32_t b = std::min(BlockEnd(a, EndAddress), kImageSize - 1);
        ReadBlock(kReadChipBlock, buffer, sizeof buffer, a, b);
        if (FailureFlag != 0) {
            return;
        }
        std::memcpy(&ProgramMemory[a], buffer, b - a + 1);
        a = b + 1;
        DelayMs(kAfterBlockMs);
    }
    CodeLoadedFlag = 0;
    const std::string sum = Hex(SumImageRange(start, EndAddress), 4);
    ReportSuccess("拷贝芯片数据检查和 =  " + sum);
    Window().WriteField(TextField::Checksum, sum);
    CodeLoadedFlag = 1;
}

void VerifyChip() {
    Window().SetStatusLine(std::string(kVerifyText) + kOpeningTail);
    FailureFlag = 0;
    const std::uint32_t start = StartAddress;
    if (RefuseRangeOutsideImage(start, EndAddress)) {
        return;
    }
    std::uint32_t a = start;
    bool differs = false;
    std::uint8_t buffer[kBlockBufferSize];
    while (a <= EndAddress && a < kImageSize) {
        Window().SetStatusLine(kVerifyText + Hex(a, 5));
        const std::uint32_t b = std::min(BlockEnd(a, EndAddress), kImageSize - 1);
        if (!Window().GetChoice(Choice::FastMode).marked) {
            DelayMs(kBeforeVerifyBlockMs);
        }
        ReadBlock(kReadChipBlock, buffer, sizeof buffer, a, b);
        if (FailureFlag != 0) {
            return;
        }
        for (std::uint32_t i = 0; i <= b - a; ++i) {
            if (buffer[i] != ProgramMemory[a + i]) {
                differs = true;
                a += i;
                break;
            }
        }
        if (differs) {
            FailureFlag = 1;
            break;
        }
        a = b + 1;
        DelayMs(kAfterBlockMs);
    }
    std::uint32_t sent = 0;
    SendBytes(kVerifyEnd, sizeof kVerifyEnd, sent);
    if (differs) {
        FailureFlag = 1;
        ReportChipFault(ChipFault::VerifyDifference, a, "校验芯片失败! 在地址: " + Hex(a, 5));
        return;
    }
    FailureFlag = 0;
    ReportSuccess("校验芯片成功");
}

std::uint16_t ChipChecksum() {
    Window().SetStatusLine(std::string(kChecksumText) + kOpeningTail);
    const std::uint32_t start = StartAddress;
    const std::uint32_t end = EndAddress;
    if (RefuseRangeOutsideImage(start, end)) {
        return 0;
    }
    SetCommandRange(start, end);
    FailureFlag = 0;
    SetOperationCode(kChipChecksum);
    if (!ConnectAndSend()) {
        HandleLinkFailure();
        return 0;
    }
    std::uint8_t status[kStatusBufferSize];
    ReadReply(status, sizeof status, kStatusLength, kDataStatusAttempts);
    if (ReplyIs(status, sizeof status, kReplySupplyFault)) {
        HandleVddVppFault();
        return 0;
    }
    // Progress reports come until one reaches the end address; a one-byte range gets them
    // too, so its sum is read where the programmer sends it.
    if (start <= end) {
        std::uint32_t a = start;
        do {
            const ProgressReport report = ReadProgressReport(kChecksumFailedText);
            if (report.kind == ProgressReport::NoProgress) {
                return 0;  // a restart or a garbled report: no sum to give or compare
            }
            if (report.kind == ProgressReport::Silence) {
                break;
            }
            a = report.address;
            Window().SetStatusLine(std::string(kChecksumText) + ",  地址: " + Hex(a, 5));
        } while (a < end);
    }
    const std::uint16_t sum = ReadWordReply();
    const bool failed = FailureFlag != 0;
    const std::string sumText = failed ? kChecksumFailedText : "芯片检查和 =  " + Hex(sum, 4);
    if (failed) {
        ReportOutcome(OutcomeKind::NoAnswer, sumText);  // the sum did not come
        return sum;
    }
    ReportSuccess(sumText);
    // A failed read is never compared: it must not pass for a matching chip.
    if (AutoRunFlag != 0) {
        if (sum == SumImageRange(start, end)) {
            ReportSuccess("校验芯片成功!");
        } else {
            FailureFlag = 1;
            ReportChipFault(ChipFault::ChecksumMismatch, std::nullopt, "编程失败,校验芯片错误!");
        }
    }
    return sum;
}

}  // namespace koru

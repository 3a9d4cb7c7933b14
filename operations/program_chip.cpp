#include "operations/program_chip.h"

#include <algorithm>
#include <array>
#include <cstdint>
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
#include "operations/runner.h"

namespace koru {
namespace {

constexpr std::size_t kStatusBufferSize = 16;
constexpr std::uint32_t kStatusLength = 2;

constexpr std::uint32_t kProgramBlock = 8;     // bytes per write in the data phase
constexpr std::uint32_t kProgressEvery = 128;  // bytes between two progress texts
constexpr std::uint32_t kBeforeDataMs = 50;    // the programmer's time to prepare the chip

// Refuses a range outside the image; else shows the opening text, puts the range and code into
// the command block, connects and reads the first status. False when the operation must end
// here (range refused, link failure or supply fault, each already reported). A missing first
// status leaves FailureFlag set and returns true.
bool OpenRangeOperation(const char* text, std::uint8_t code, std::uint32_t start,
                        std::uint32_t end) {
    if (RefuseRangeOutsideImage(start, end)) {
        return false;
    }
    Window().SetStatusLine(std::string(text) + kOpeningTail);
    SetCommandRange(start, end);
    FailureFlag = 0;
    SetOperationCode(code);
    if (!ConnectAndSend()) {
        HandleLinkFailure();
        return false;
    }
    std::uint8_t status[kStatusBufferSize];
    ReadReply(status, sizeof status, kStatusLength, kDataStatusAttempts);
    if (ReplyIs(status, sizeof status, kReplySupplyFault)) {
        HandleVddVppFault();
        return false;
    }
    return true;
}

// The 8 image bytes from address; cells beyond the image go out blank.
std::array<std::uint8_t, kProgramBlock> ProgramBlockAt(std::uint32_t address) {
    std::array<std::uint8_t, kProgramBlock> block;
    block.fill(kBlankByte);
    for (std::uint32_t i = 0; i < kProgramBlock && address + i < kImageSize; ++i) {
        block[i] = ProgramMemory[address + i];
    }
    return block;
}

}  // namespace

std::atomic<bool> ProgramDataStarted{false};

void ProgramChip() {
    const std::uint32_t start = StartAddress;
    const std::uint32_t end = EndAddress;
    if (!OpenRangeOperation(kProgramText, kProgramChip, start, end)) {
        return;
    }
    DelayMs(kBeforeDataMs);
    ProgramDataStarted = true;

    // The data phase runs even when the first status did not come; only a port that takes no
    // more bytes ends it early.
    std::uint32_t sinceProgress = 0;
    bool portStuck = false;
    for (std::uint32_t address = start; address <= end; address += kProgramBlock) {
        if (sinceProgress >= kProgressEvery) {
            Window().SetStatusLine(std::string(kProgramText) + ", 地址: " + Hex(address, 4));
            sinceProgress = 0;
        }
        const auto block = ProgramBlockAt(address);
        std::uint32_t sent = 0;
        SendBytes(block.data(), kProgramBlock, sent);
        if (sent != kProgramBlock) {
            FailureFlag = 1;
            portStuck = true;
            break;
        }
        sinceProgress += kProgramBlock;
    }
    if (FailureFlag != 0) {
        // A port that took no more bytes is the link's fault; a missing first status, the
        // programmer's silence. Neither judges the chip. A stalled write has marked the link
        // lost already; a Windows port whose line errors could not be cleared has not, and is
        // decided here.
        ReportOutcome(portStuck ? OutcomeKind::LinkLost : OutcomeKind::NoAnswer, "编程失败!");
        return;
    }

    std::uint8_t reply[kStatusBufferSize];
    ReadReply(reply, sizeof reply, kStatusLength, kOneShotReplyAttempts);
    if (ReplyIs(reply, sizeof reply, kReplyOk)) {
        ReportSuccess("编程成功");
        return;
    }
    FailureFlag = 1;
    if (LinkLostInOperation()) {
        ShowLinkLost();  // no verdict came: there is nothing to warn of about the data
        return;
    }
    Window().ShowMessageBox("警 告",
                            "发送数据校验和错误!\n请尝试重新编程\n注意: "
                            "烧写时请不要切换当前窗口\n或启动其它需要实时处理的软件,"
                            "\n以免影响下载稳定性",
                            MessageIcon::Warning, MessageButtons::Ok);
    const char* failedText = "编程芯片失败! [校验和错]";
    if (reply[0] == 0) {
        ReportOutcome(OutcomeKind::NoAnswer, failedText);
    } else if (ReplyIs(reply, sizeof reply, kReplyRefused)) {
        ReportChipFault(ChipFault::AnsweredNo, std::nullopt, failedText);
    } else {
        ReportChipFault(ChipFault::FinalChecksum, std::nullopt, failedText);
    }
}

void BlankCheck() {
    const std::uint32_t start = StartAddress;
    const std::uint32_t end = EndAddress;
    if (!OpenRangeOperation(kBlankCheckText, kBlankCheck, start, end)) {
        return;
    }
    std::uint32_t address = start;
    while (address <= end) {
        const ProgressReport report = ReadProgressReport(kOperationFailedText);
        if (report.kind == ProgressReport::NoProgress) {
            return;  // a restart or a garbled report: the chip was not checked
        }
        if (report.kind == ProgressReport::Silence) {
            break;
        }
        address = report.address;
        Window().SetStatusLine(std::string(kBlankCheckText) + ",  地址: " + Hex(address, 5));
    }
    if (address > end) {
        ReportSuccess("芯片是空的, 在地址空间: " + Hex(start, 5) + "~~" + Hex(end, 5));
        return;
    }
    FailureFlag = 1;
    // Silence after an address means the chip is not blank there.
    ReportChipFault(ChipFault::NotBlank, address, "芯片不空, 在地址: " + Hex(address, 5));
}

}  // namespace koru

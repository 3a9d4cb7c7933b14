#include "operations/one_shot.h"

#include "core/services.h"
#include "core/shared_state.h"
#include "core/step_report.h"
#include "link/connection.h"
#include "link/replies.h"
#include "link/transport.h"
#include "operations/link_faults.h"
#include "operations/progress_texts.h"
#include "operations/runner.h"

namespace koru {
namespace {

constexpr std::size_t kReplyBufferSize = 32;
constexpr std::uint32_t kStatusLength = 2;

struct OneShotTexts {
    std::uint8_t code;
    const char* progress;
    const char* success;
    const char* refusal;
};

constexpr OneShotTexts kTexts[] = {
    {kEraseMtp, kEraseMtpText, "芯片已擦除!", "擦除芯片失败!"},
    {kEnableSmart, "使能芯片SMART系统,请稍候....", "芯片SMART系统已使能!",
     "使能芯片SMART系统失败!"},
    {kReadProtect, "正在使能芯片读保护,请稍候......", "芯片读保护已使能!", "使能芯片读保护失败!"},
    {kLdcProtect, "正在使能芯片LDC保护,请稍候......", "芯片LDC保护已使能!", "使能芯片LDC保护失败!"},
    {kHwWriteProtect, "正在使能硬件写保护,请稍候......", "芯片硬件写保护成功!",
     "使能芯片硬件写保护失败!"},
};

const OneShotTexts* TextsFor(std::uint8_t code) {
    for (const OneShotTexts& texts : kTexts) {
        if (texts.code == code) {
            return &texts;
        }
    }
    return nullptr;
}

}  // namespace

bool IsOneShotCommand(std::uint8_t code) {
    return TextsFor(code) != nullptr;
}

void RunOneShotCommand(std::uint8_t code) {
    const OneShotTexts* texts = TextsFor(code);
    if (texts == nullptr) {
        return;
    }
    Window().SetStatusLine(texts->progress);
    FailureFlag = 0;
    if (!ConnectAndSend()) {
        HandleLinkFailure();
        return;
    }
    std::uint8_t reply[kReplyBufferSize];
    ReadReply(reply, sizeof reply, kStatusLength, kOneShotReplyAttempts);
    if (ReplyIs(reply, sizeof reply, kReplyOk)) {
        FailureFlag = 0;
        ReportSuccess(texts->success);
        return;
    }
    FailureFlag = 1;
    if (ReplyIs(reply, sizeof reply, kReplyRefused)) {
        ReportChipFault(ChipFault::AnsweredNo, std::nullopt, texts->refusal);
    } else if (ReplyIs(reply, sizeof reply, kReplySupplyFault)) {
        HandleVddVppFault();
    } else {
        ReportOutcome(OutcomeKind::NoAnswer, kOperationFailedText);
    }
}

}  // namespace koru

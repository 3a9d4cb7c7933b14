#include "operations/chip_block.h"

#include "core/services.h"
#include "core/shared_state.h"
#include "core/step_report.h"
#include "link/command_block.h"
#include "link/connection.h"
#include "link/replies.h"
#include "link/transport.h"
#include "operations/link_faults.h"

namespace koru {
namespace {

constexpr std::size_t kStatusBufferSize = 8;
constexpr std::uint32_t kStatusLength = 2;

}  // namespace

void ReadChipBlock(std::uint8_t code, std::uint8_t* buffer, std::uint32_t first,
                   std::uint32_t last) {
    const std::uint32_t count = last - first + 1;
    SetCommandRange(first, last);
    FailureFlag = 0;
    SetOperationCode(code);
    if (!ConnectAndSend()) {
        HandleLinkFailure();
        return;
    }
    std::uint8_t status[kStatusBufferSize];
    ReadReply(status, sizeof status, kStatusLength, kDataStatusAttempts);
    if (ReplyIs(status, sizeof status, kReplySupplyFault)) {
        HandleVddVppFault();
        return;
    }
    // A missing first status has set FailureFlag: the data is still taken off the line, but
    // the block counts as failed.
    std::uint32_t received = 0;
    ReceiveBytes(buffer, count, received);
    bool ok = FailureFlag == 0 && received == count;
    if (ok) {
        std::uint16_t sum = 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            sum = static_cast<std::uint16_t>(sum + buffer[i]);
        }
        const std::uint16_t reported = ReadWordReply();
        ok = FailureFlag == 0 && reported == sum;
    }
    if (!ok) {
        FailureFlag = 1;
        ReportOutcome(OutcomeKind::NoAnswer, kReadDataErrorText);
    }
}

}  // namespace koru

#include "operations/progress_report.h"

#include <cstring>

#include "core/shared_state.h"
#include "core/step_report.h"
#include "image/program_memory.h"
#include "link/replies.h"
#include "link/reset_listener.h"
#include "link/transport.h"

namespace koru {
namespace {

constexpr std::size_t kReportBufferSize = 16;

// The announcement's first three bytes came as the report: true when the rest follows.
bool RestOfRestartAnnouncement() {
    const std::string_view rest = kReplyReset.substr(kProgressReportLength);
    std::uint8_t buffer[kReportBufferSize];
    return TryReadReply(buffer, sizeof buffer, static_cast<std::uint32_t>(rest.size()), 1) &&
           ReplyIs(buffer, sizeof buffer, rest);
}

}  // namespace

ProgressReport ReadProgressReport(const std::string& failedText) {
    std::uint8_t report[kReportBufferSize];
    const std::size_t got =
        ReadWholeReply(report, sizeof report, kProgressReportLength, kWordReplyAttempts);
    if (got > 0 && got < kProgressReportLength) {
        // Cut short: the missing bytes are no address, and taking the report as silence would
        // judge the chip (not blank) on a line fault.
        ReportOutcome(OutcomeKind::NoAnswer, failedText);
        return {ProgressReport::NoProgress};
    }
    if (FailureFlag != 0) {
        return {ProgressReport::Silence};
    }
    const std::uint32_t address =
        (std::uint32_t{report[0]} << 16) | (std::uint32_t{report[1]} << 8) | report[2];
    if (address < kImageSize) {
        return {ProgressReport::Address, address};
    }
    FailureFlag = 1;
    const bool restarted = std::memcmp(report, kReplyReset.data(), kProgressReportLength) == 0 &&
                           RestOfRestartAnnouncement();
    ReportOutcome(OutcomeKind::NoAnswer, restarted ? kProgrammerResetText : failedText);
    return {ProgressReport::NoProgress};
}

}  // namespace koru

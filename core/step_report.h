#pragma once

// Where a step states its result: the status text for people and the typed outcome for front
// ends, in one call, so the two never disagree. Once the port is gone, a step's verdict on the
// chip is not shown: the lost-link text takes its place.

#include <cstdint>
#include <optional>
#include <string>

#include "core/outcome.h"

namespace koru {

inline constexpr char kLinkLostText[] = "读取串口错误,该端口可能不存在或被其它软件占用!";

// The operation code the running step records its outcome under; set by the runner.
void SetCurrentStep(std::uint8_t code);
// The operation code set last by SetCurrentStep (0 before any).
std::uint8_t CurrentStep();

// Shows status and records kind (with fault and address for a chip failure). When the link
// has been lost in this operation, shows the lost-link text instead (see ShowLinkLost).
void ReportOutcome(OutcomeKind kind, const std::string& status, ChipFault fault = ChipFault::None,
                   std::optional<std::uint32_t> address = std::nullopt);
inline void ReportSuccess(const std::string& status) {
    ReportOutcome(OutcomeKind::Success, status);
}
inline void ReportRefusal(const std::string& status) {
    ReportOutcome(OutcomeKind::Refused, status);
}
inline void ReportChipFault(ChipFault fault, std::optional<std::uint32_t> address,
                            const std::string& status) {
    ReportOutcome(OutcomeKind::ChipFailed, status, fault, address);
}

// Records that the operating system reported the port gone (or a write moved nothing). The
// text is shown by ShowLinkLost at the step's end.
void RecordLinkLost();
// True when the running operation has lost its link.
bool LinkLostInOperation();
// FailureFlag = 1; a lost link is never a bad chip, so CountFailureFlag = 0, and the status
// line shows kLinkLostText.
void ShowLinkLost();

// While one lives, nothing the calling thread does is recorded: the reset listener listens
// between operations, and what it meets is not the result of the last one.
class OutcomesPausedOnThisThread {
  public:
    OutcomesPausedOnThisThread();
    ~OutcomesPausedOnThisThread();
    OutcomesPausedOnThisThread(const OutcomesPausedOnThisThread&) = delete;
    OutcomesPausedOnThisThread& operator=(const OutcomesPausedOnThisThread&) = delete;

  private:
    bool wasPaused_;
};

// Increases with every record: the runner tells from it whether a step recorded anything.
std::uint64_t OutcomeRecords();

}  // namespace koru

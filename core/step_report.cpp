#include "core/step_report.h"

#include <atomic>

#include "core/services.h"
#include "core/shared_state.h"

namespace koru {
namespace {

std::atomic<std::uint8_t> currentStep{0};
std::atomic<std::uint64_t> records{0};
thread_local bool recordingPaused = false;

}  // namespace

OutcomesPausedOnThisThread::OutcomesPausedOnThisThread() : wasPaused_(recordingPaused) {
    recordingPaused = true;
}

OutcomesPausedOnThisThread::~OutcomesPausedOnThisThread() {
    recordingPaused = wasPaused_;
}

void SetCurrentStep(std::uint8_t code) {
    currentStep = code;
}

std::uint8_t CurrentStep() {
    return currentStep.load();
}

void ReportOutcome(OutcomeKind kind, const std::string& status, ChipFault fault,
                   std::optional<std::uint32_t> address) {
    ++records;
    if (LinkLostInOperation()) {
        ShowLinkLost();
        return;
    }
    Outcome outcome;
    outcome.kind = kind;
    outcome.fault = fault;
    outcome.address = address;
    outcome.step = kind == OutcomeKind::Success ? 0 : currentStep.load();
    outcome.status = status;
    RecordOutcome(outcome);
    Window().SetStatusLine(status);
}

void RecordLinkLost() {
    if (recordingPaused) {
        return;
    }
    ++records;
    Outcome outcome;
    outcome.kind = OutcomeKind::LinkLost;
    outcome.step = currentStep;
    outcome.status = kLinkLostText;
    RecordOutcome(outcome);
}

bool LinkLostInOperation() {
    return LastOutcome().kind == OutcomeKind::LinkLost;
}

void ShowLinkLost() {
    FailureFlag = 1;
    CountFailureFlag = 0;
    Window().SetStatusLine(kLinkLostText);
}

std::uint64_t OutcomeRecords() {
    return records;
}

}  // namespace koru

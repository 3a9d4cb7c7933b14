#include "core/outcome.h"

#include <mutex>

namespace koru {
namespace {

// Written by the worker, read by front ends after it ends (and by the listener's owner): a lock,
// since the record holds a string.
std::mutex outcomeMutex;
Outcome lastOutcome;

}  // namespace

void ResetOutcome() {
    std::lock_guard lock(outcomeMutex);
    lastOutcome = Outcome{};
}

void RecordOutcome(const Outcome& outcome) {
    std::lock_guard lock(outcomeMutex);
    if (lastOutcome.kind == OutcomeKind::LinkLost) {
        return;
    }
    lastOutcome = outcome;
}

Outcome LastOutcome() {
    std::lock_guard lock(outcomeMutex);
    return lastOutcome;
}

const char* OutcomeName(OutcomeKind kind) {
    switch (kind) {
        case OutcomeKind::Success:
            return "success";
        case OutcomeKind::ChipFailed:
            return "chip-failed";
        case OutcomeKind::SupplyFault:
            return "supply-fault";
        case OutcomeKind::LinkLost:
            return "link-lost";
        case OutcomeKind::NoAnswer:
            return "no-answer";
        case OutcomeKind::Refused:
            return "refused";
    }
    return "unknown";
}

const char* ChipFaultName(ChipFault fault) {
    switch (fault) {
        case ChipFault::None:
            return "none";
        case ChipFault::NotBlank:
            return "not-blank";
        case ChipFault::VerifyDifference:
            return "verify-difference";
        case ChipFault::ChecksumMismatch:
            return "checksum-mismatch";
        case ChipFault::AnsweredNo:
            return "answered-no";
        case ChipFault::FinalChecksum:
            return "final-checksum";
    }
    return "unknown";
}

}  // namespace koru

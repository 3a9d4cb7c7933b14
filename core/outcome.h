#pragma once

// The typed result of the last operation, recorded by the engine beside FailureFlag and the
// status line. Front ends decide from it (exit codes, counting a lost link, the production
// record) and never from the status text, which is for people.

#include <cstdint>
#include <optional>
#include <string>

namespace koru {

enum class OutcomeKind : std::uint8_t {
    Success,
    ChipFailed,   // the chip is at fault: see ChipFault
    SupplyFault,  // the programmer answered "EV"
    LinkLost,     // the operating system reports the port gone or hung up, or a write moved nothing
    NoAnswer,     // the programmer stayed silent where an answer was due
    Refused,      // nothing sent: bad range, nothing loaded, a command the chip lacks, a bad file
};

enum class ChipFault : std::uint8_t {
    None,
    NotBlank,          // blank check stopped at an address
    VerifyDifference,  // verify found a difference at an address
    ChecksumMismatch,  // the chip's checksum differs from the image's
    AnsweredNo,        // the programmer answered "NO"
    FinalChecksum,     // programming's final reply reported a checksum error
};

struct Outcome {
    OutcomeKind kind = OutcomeKind::Success;
    ChipFault fault = ChipFault::None;
    std::optional<std::uint32_t> address;  // where the chip failed, when the programmer said
    std::uint8_t step = 0;                 // operation code of the step that failed (0: none)
    std::string status;                    // the status text shown with it
};

// At the start of every operation (auto-programming: once for the whole run).
void ResetOutcome();

// Records a result of the running operation. A later record replaces an earlier one, except that
// nothing replaces LinkLost: once the port is gone, what the exchange then makes of the silence
// is not a verdict on the chip.
void RecordOutcome(const Outcome& outcome);

// The outcome of the last (or running) operation; Success after ResetOutcome.
Outcome LastOutcome();

// Stable lower-case names for logs and machine-readable output: "success", "chip-failed",
// "supply-fault", "link-lost", "no-answer", "refused".
const char* OutcomeName(OutcomeKind kind);
// "none", "not-blank", "verify-difference", "checksum-mismatch", "answered-no", "final-checksum".
const char* ChipFaultName(ChipFault fault);

}  // namespace koru

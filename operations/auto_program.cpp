#include "operations/auto_program.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "core/outcome.h"
#include "core/services.h"
#include "core/shared_state.h"
#include "core/step_report.h"
#include "image/numbers.h"
#include "image/program_memory.h"
#include "link/command_block.h"
#include "operations/auto_run_report.h"
#include "operations/beeps.h"
#include "operations/chip_serial.h"
#include "operations/one_shot.h"
#include "operations/program_chip.h"
#include "operations/runner.h"
#include "platform/delay.h"

namespace koru {
namespace {

constexpr std::uint32_t kFastStepPauseMs = 300;
constexpr std::uint32_t kStepPauseMs = 700;
constexpr int kCountFailureArmed = 100;
constexpr std::uint8_t kSuccessDigits = 6;
constexpr std::uint8_t kFailureDigits = 5;
constexpr int kFailureBeeps = 4;

// One step of the sequence: its operation code, whether the step pause comes before it, and
// whether it runs for these options and this chip kind.
struct StepPlan {
    std::uint8_t code;
    bool pauseBefore;
    bool runs;
};

// beforeProgram: runs right before the program step; false ends the run there, refused.
bool RunSteps(std::uint32_t options, std::uint32_t func, bool mtp, std::uint32_t pauseMs,
              std::vector<std::uint8_t>& ran, const std::function<bool()>& beforeProgram) {
    const bool locked = (func & kFuncLockedProduction) != 0;
    const StepPlan plan[] = {
        {kBlankCheck, false, (options & kAutoBlankCheck) != 0},
        {kEraseMtp, true, (options & kAutoEraseMtp) != 0 && mtp},
        {kProgramChip, true, true},
        {kChipChecksum, true, (options & kAutoVerify) != 0},
        {kEnableSmart, true, ((options & kAutoSmart) != 0 || locked) && mtp},
        {kLdcProtect, true, (options & kAutoLdcProtect) != 0},
        {kReadProtect, true, (options & kAutoReadProtect) != 0 || locked},
        {kHwWriteProtect, true, (options & kAutoHwProtect) != 0 && mtp},
    };
    for (const StepPlan& entry : plan) {
        if (!entry.runs) {
            continue;
        }
        if (entry.pauseBefore) {
            DelayMs(pauseMs);
        }
        if (entry.code == kProgramChip && !beforeProgram()) {
            return false;
        }
        ran.push_back(entry.code);
        RunOperation(entry.code);
        if (FailureFlag != 0) {
            return false;
        }
    }
    return true;
}

// The serial value of this run in the image: stamped for one chip, the loaded bytes put back
// when the run ends, so the view and the next chip see the image the operator loaded.
class StampedSerial {
  public:
    StampedSerial(std::shared_ptr<ChipSerialSource> source, ChipSerialValue value)
        : source_(std::move(source)), value_(std::move(value)) {
        // The programmer checks the data against the command block's sum: it must be the
        // stamped image's, while the checksum field keeps showing the loaded one's.
        checksumBytes_ = {CommandBlock[kBlockChecksum], CommandBlock[kBlockChecksum + 1]};
        std::uint16_t sum =
            static_cast<std::uint16_t>((checksumBytes_[0] << 8) | checksumBytes_[1]);
        for (std::size_t i = 0; i < value_.bytes.size(); ++i) {
            loaded_.push_back(ProgramMemory[value_.address + i]);
            sum = static_cast<std::uint16_t>(sum - loaded_[i] + value_.bytes[i]);
            ProgramMemory[value_.address + i] = value_.bytes[i];
        }
        CommandBlock[kBlockChecksum] = static_cast<std::uint8_t>(sum >> 8);
        CommandBlock[kBlockChecksum + 1] = static_cast<std::uint8_t>(sum);
    }
    ~StampedSerial() { Restore(); }
    StampedSerial(const StampedSerial&) = delete;
    StampedSerial& operator=(const StampedSerial&) = delete;

    // Before the program step: the value is durably on its way to this chip, or the chip is
    // refused here, before any data (the status line says why).
    bool StartSending() {
        std::string refusal;
        if (source_->StartSending(value_, refusal)) {
            return true;
        }
        FailureFlag = 1;
        ReportRefusal(refusal);
        return false;
    }

    // Once data went out the chip may hold the value: it is spent, never handed out again.
    // The record names the value only when the chip may hold it.
    // The image goes back to the loaded bytes here, so the record judges the operator's
    // image (its checksum, whether it was edited since the load) and names the chip's own
    // checksum beside it.
    void Finish(AutoRunReport& report) {
        const bool spent = ProgramDataStarted;
        source_->Finish(value_, spent, report.outcome);
        if (spent) {
            report.serialJob = value_.job;
            report.serialValue = value_.label;
            report.chipChecksum = SumImageRange(StartAddress, EndAddress);
        }
        Restore();
    }

  private:
    void Restore() {
        for (std::size_t i = 0; i < loaded_.size(); ++i) {
            ProgramMemory[value_.address + i] = loaded_[i];
        }
        loaded_.clear();
        CommandBlock[kBlockChecksum] = checksumBytes_[0];
        CommandBlock[kBlockChecksum + 1] = checksumBytes_[1];
    }

    std::shared_ptr<ChipSerialSource> source_;
    ChipSerialValue value_;
    std::vector<std::uint8_t> loaded_;
    std::array<std::uint8_t, 2> checksumBytes_{};
};

// Takes this chip's value from the installed source. False (the run refused before any
// traffic, with the reason on the status line) when there is none to be had.
bool TakeSerial(std::optional<StampedSerial>& stamped) {
    const std::shared_ptr<ChipSerialSource> source = CurrentChipSerialSource();
    if (!source) {
        return true;
    }
    ChipSerialGrant grant = source->Reserve();
    std::string refusal = grant.refusal;
    if (grant.granted) {
        refusal = SerialPlacementProblem(grant.value.address, grant.value.bytes.size(),
                                         StartAddress, EndAddress);
        if (refusal.empty()) {
            stamped.emplace(source, std::move(grant.value));
            return true;
        }
        source->Finish(grant.value, false, LastOutcome());
    }
    FailureFlag = 1;
    if (grant.usedUp) {
        refusal = kSerialUsedUpText;
        Window().ShowMessageBox("警 告", refusal, MessageIcon::Warning, MessageButtons::Ok);
    }
    ReportRefusal(refusal);
    return false;
}

}  // namespace

void AutoProgram() {
    ProgramDataStarted = false;
    std::optional<StampedSerial> stamped;
    if (!TakeSerial(stamped)) {
        return;
    }
    AutoRunReport report;
    report.started = std::chrono::system_clock::now();
    const auto startedSteady = std::chrono::steady_clock::now();
    BeepPattern(1, kShortBeepMs);
    AutoRunFlag = 1;
    CountFailureFlag = kCountFailureArmed;

    const bool fast = Window().GetChoice(Choice::FastMode).marked;
    const std::uint32_t options = AutoOptions;
    const std::uint32_t func = AutoFunc;
    const bool mtp = CommandBlock[kBlockChipKind] == kChipMtp;

    const bool succeeded =
        RunSteps(options, func, mtp, fast ? kFastStepPauseMs : kStepPauseMs, report.steps,
                 [&stamped] { return !stamped || stamped->StartSending(); });
    const bool paused = (AutoFunc & kFuncCountingPaused) != 0;
    if (succeeded) {
        ReportSuccess(kAutoProgramDoneText);
        if (!paused) {
            const std::uint32_t count = SuccessCount.fetch_add(1) + 1;
            Window().WriteField(TextField::SuccessCount, Decimal(count, kSuccessDigits));
        }
        BeepPattern(1, kLongBeepMs);
    } else {
        // Only a verdict on the chip counts it as failed: a programmer that fell silent judged
        // nothing, as a lost link judges nothing, and the record's kind says no-answer.
        const OutcomeKind kind = LastOutcome().kind;
        const bool chipJudged = kind == OutcomeKind::ChipFailed || kind == OutcomeKind::SupplyFault;
        if (CountFailureFlag != 0 && chipJudged && !paused) {
            const std::uint32_t count = FailureCount.fetch_add(1) + 1;
            Window().WriteField(TextField::FailureCount, Decimal(count, kFailureDigits));
        }
        BeepPattern(kFailureBeeps, kShortBeepMs);
    }
    report.duration = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - startedSteady);
    report.succeeded = succeeded;
    report.outcome = LastOutcome();
    report.successCount = SuccessCount;
    report.failureCount = FailureCount;
    if (stamped) {
        stamped->Finish(report);
    }
    ReportAutoRun(report);
    AutoRunFlag = 0;
}

}  // namespace koru

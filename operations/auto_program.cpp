#include "operations/auto_program.h"

#include <chrono>
#include <cstdint>
#include <vector>

#include "core/outcome.h"
#include "core/services.h"
#include "core/shared_state.h"
#include "core/step_report.h"
#include "image/numbers.h"
#include "link/command_block.h"
#include "operations/auto_run_report.h"
#include "operations/beeps.h"
#include "operations/one_shot.h"
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

bool RunSteps(std::uint32_t options, std::uint32_t func, bool mtp, std::uint32_t pauseMs,
              std::vector<std::uint8_t>& ran) {
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
        ran.push_back(entry.code);
        RunOperation(entry.code);
        if (FailureFlag != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

void AutoProgram() {
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
        RunSteps(options, func, mtp, fast ? kFastStepPauseMs : kStepPauseMs, report.steps);
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
    ReportAutoRun(report);
    AutoRunFlag = 0;
}

}  // namespace koru

#include "operations/runner.h"

#include <atomic>

#include "core/joined_threads.h"
#include "core/outcome.h"
#include "core/services.h"
#include "core/shared_state.h"
#include "core/step_report.h"
#include "image/code_loader.h"
#include "image/hex_writer.h"
#include "image/memory_view.h"
#include "image/program_memory.h"
#include "link/command_block.h"
#include "link/connection.h"
#include "link/reset_listener.h"
#include "operations/auto_program.h"
#include "operations/chip_read.h"
#include "operations/one_shot.h"
#include "operations/program_chip.h"
#include "operations/read_block.h"
#include "platform/thread_priority.h"

namespace koru {
namespace {

std::atomic<int> liveWorkers{0};

void Dispatch(std::uint8_t code) {
    if (IsOneShotCommand(code)) {
        RunOneShotCommand(code);
        return;
    }
    if (code >= kFirstMemoryPageCode) {
        Window().LockViewControls(true);
        ShowMemoryPage(code, ReadBlockFromChip);
        return;
    }
    switch (code) {
        case kChipChecksum:
            ChipChecksum();
            break;
        case kBlankCheck:
            BlankCheck();
            break;
        case kVerifyChip:
            VerifyChip();
            break;
        case kProgramChip:
            ProgramChip();
            break;
        case kBufferChecksum:
            BufferChecksum();
            break;
        case kAutoProgram:
            AutoProgram();
            break;
        case kSaveHexFile:
            SaveImageAsHex();
            break;
        case kCopyChipToImage:
            CopyChipToImage();
            break;
        case kLoadCodeFile:
            LoadCodeFile();
            break;
        case kChooseAndLoadCodeFile:
            if (ChooseCodeFile()) {
                LoadCodeFile();
            }
            break;
        default:
            // 0, 1 (probe), 10 and 13 (block reads inside other operations), 12, 20..29:
            // nothing beyond the bookkeeping.
            break;
    }
}

void WorkerThread() {
    RaiseToTimeCritical();
    OperationWorker();
    --liveWorkers;
}

// The window's workers: never joined while they run (they report through blocking calls to the
// window's thread, which therefore must not wait for them), joined once they have finished.
JoinedThreads& WindowWorkers() {
    static JoinedThreads workers;
    return workers;
}

// What every start does before the worker runs; false when the operation is refused.
bool PrepareWorker(std::uint8_t code) {
    if (PortSelectedFlag == 0) {
        ResetOutcome();
        ReportRefusal(kNoPortText);
        return false;
    }
    EndResetListener();
    SetOperationCode(code);
    RefreshCommandBlock();
    BusyFlag = 1;
    ++liveWorkers;
    return true;
}

// No thread to be had: the operation does not run, and says so.
void ReportNoWorker() {
    --liveWorkers;
    BusyFlag = 0;
    FailureFlag = 1;
    ResetOutcome();
    ReportRefusal(kOperationFailedText);
}

}  // namespace

void StartOperation(std::uint8_t code) {
    if (PrepareWorker(code) && !WindowWorkers().Start(WorkerThread)) {
        ReportNoWorker();
    }
}

void RunOperationToEnd(std::uint8_t code) {
    if (PrepareWorker(code) && !JoinedThreads::RunToEnd(WorkerThread)) {
        ReportNoWorker();
    }
}

void RunOperation(std::uint8_t code) {
    SetOperationCode(code);
    OperationWorker();
}

void OperationWorker() {
    BusyFlag = 1;
    FailureFlag = 0;
    Window().RefreshCursor();

    // Auto-programming keeps one outcome for its whole run; its steps add to it.
    if (AutoRunFlag == 0) {
        ResetOutcome();
    }
    const std::uint8_t code = OperationCode();
    SetCurrentStep(code);
    const std::uint64_t recordsBefore = OutcomeRecords();
    Dispatch(code);
    if (LinkLostInOperation()) {
        ShowLinkLost();
    } else if (OutcomeRecords() == recordsBefore && FailureFlag != 0) {
        // A failure without a verdict of its own (a page of the view that could not be read,
        // a thread that could not start): the chip was not judged.
        RecordOutcome({OutcomeKind::NoAnswer, ChipFault::None, std::nullopt, code, ""});
    }

    if (AutoRunFlag != 0) {
        return;
    }
    BusyFlag = 0;
    Window().RefreshCursor();
    Window().LockViewControls(false);
}

int LiveOperationWorkers() {
    return liveWorkers;
}

}  // namespace koru

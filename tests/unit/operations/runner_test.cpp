#include "operations/runner.h"

#include <gtest/gtest.h>

#include "core/outcome.h"
#include "core/shared_state.h"
#include "core/step_report.h"
#include "link/command_block.h"
#include "link/connection.h"
#include "operations/link_faults.h"
#include "tests/support/process_state.h"
#include "tests/support/recording_buzzer.h"
#include "tests/support/wait.h"

namespace koru {
namespace {

class RunnerTest : public test::ProcessStateTest {
  protected:
    ~RunnerTest() override { WaitForWorkers(); }

    static void WaitForWorkers() {
        ASSERT_TRUE(test::WaitUntil([] { return LiveOperationWorkers() == 0; }));
    }
};

TEST_F(RunnerTest, NothingStartsBeforeAPortIsChosen) {
    StartOperation(kBlankCheck);
    EXPECT_EQ(window_.StatusLine(), kNoPortText);
    EXPECT_EQ(LiveOperationWorkers(), 0);
    EXPECT_EQ(BusyFlag, 0);
    EXPECT_EQ(window_.CursorRefreshes(), 0);
}

// Codes that dispatch to nothing still run a worker that does its bookkeeping, and never touch
// the port (no port is open here: any exchange would show the port warning).
TEST_F(RunnerTest, CodesWithoutAnOperationOnlyDoTheBookkeeping) {
    PortSelectedFlag = 1;
    for (std::uint8_t code : {0, 1, 10, 12, 13, 20, 25, 29}) {
        window_.ClearRecords();
        StartOperation(code);
        WaitForWorkers();
        EXPECT_EQ(BusyFlag, 0) << int(code);
        EXPECT_EQ(OperationCode(), code);
        EXPECT_EQ(window_.CursorRefreshes(), 2) << int(code);
        EXPECT_EQ(window_.LockCalls(), std::vector<bool>{false}) << int(code);
        EXPECT_TRUE(window_.StatusHistory().empty()) << int(code);
        EXPECT_TRUE(window_.MessageBoxes().empty()) << int(code);
    }
}

// Workers started back to back, each as soon as the last one is done, all run to the end: a
// thread runtime that hands an ending thread's bookkeeping to the next one (winpthreads with
// detached threads) loses one in a few hundred. RunOperationToEnd returns only after its worker
// has ended, so nothing is left to wait for.
TEST_F(RunnerTest, WorkersStartedBackToBackAllRunToTheEnd) {
    PortSelectedFlag = 1;
    constexpr int kRuns = 1000;
    for (int i = 0; i < kRuns; ++i) {
        StartOperation(12);
        ASSERT_TRUE(test::WaitUntil([] { return LiveOperationWorkers() == 0; })) << i;
    }
    EXPECT_EQ(window_.CursorRefreshes(), 2 * kRuns);
    for (int i = 0; i < kRuns; ++i) {
        RunOperationToEnd(12);
        ASSERT_EQ(LiveOperationWorkers(), 0) << i;
        ASSERT_EQ(BusyFlag, 0) << i;
    }
    EXPECT_EQ(window_.CursorRefreshes(), 4 * kRuns);
}

TEST_F(RunnerTest, TheCommandBlockIsFilledBeforeTheWorkerRuns) {
    PortSelectedFlag = 1;
    window_.SetChoice(Choice::SerialOtp, true);
    window_.SetField(TextField::Checksum, "1234");
    StartOperation(20);
    WaitForWorkers();
    EXPECT_EQ(CommandBlock[0], 'Z');
    EXPECT_EQ(CommandBlock[kBlockChipKind], kChipOtp);
    EXPECT_EQ(CommandBlock[kBlockChecksum], 0x12);
    EXPECT_EQ(CommandBlock[kBlockChecksum + 1], 0x34);
}

TEST_F(RunnerTest, AStepUnderAutoRunLeavesTheRunBusy) {
    AutoRunFlag = 1;
    FailureFlag = 1;
    RunOperation(12);
    EXPECT_EQ(BusyFlag, 1);
    EXPECT_EQ(FailureFlag, 0);
    EXPECT_EQ(window_.CursorRefreshes(), 1);
    EXPECT_TRUE(window_.LockCalls().empty());
}

TEST_F(RunnerTest, MemoryPageCodesLockTheViewControlsUntilTheWorkerEnds) {
    PortSelectedFlag = 1;
    StartOperation(kFirstMemoryPageCode + 3);
    WaitForWorkers();
    ASSERT_FALSE(window_.LockCalls().empty());
    EXPECT_TRUE(window_.LockCalls().front());
    EXPECT_FALSE(window_.LockCalls().back());
}

TEST_F(RunnerTest, LinkFailureIsNotCountedAndRestartsTheTick) {
    CountFailureFlag = 100;
    HandleLinkFailure();
    EXPECT_EQ(FailureFlag, 1);
    EXPECT_EQ(CountFailureFlag, 0);
    EXPECT_EQ(window_.TickRestarts(), 1);
    EXPECT_EQ(window_.StatusLine(), kLinkBusyText);
}

// A later record replaces an earlier one, except that nothing replaces a lost link; the
// stable names are what logs and scripts read.
TEST_F(RunnerTest, OutcomesKeepALostLinkOverWhatFollows) {
    using K = OutcomeKind;
    struct Case {
        std::vector<K> records;
        K last;
    };
    const Case cases[] = {
        {{}, K::Success},
        {{K::ChipFailed}, K::ChipFailed},
        {{K::NoAnswer, K::Success}, K::Success},
        {{K::LinkLost, K::ChipFailed, K::Success}, K::LinkLost},
        {{K::Refused, K::LinkLost, K::NoAnswer}, K::LinkLost},
    };
    for (const Case& c : cases) {
        ResetOutcome();
        for (const K kind : c.records) {
            RecordOutcome({kind, ChipFault::None, std::nullopt, 3, "x"});
        }
        EXPECT_EQ(LastOutcome().kind, c.last) << c.records.size();
    }
    const std::pair<K, const char*> names[] = {
        {K::Success, "success"},          {K::ChipFailed, "chip-failed"},
        {K::SupplyFault, "supply-fault"}, {K::LinkLost, "link-lost"},
        {K::NoAnswer, "no-answer"},       {K::Refused, "refused"},
    };
    for (const auto& [kind, name] : names) {
        EXPECT_STREQ(OutcomeName(kind), name);
    }
    EXPECT_STREQ(ChipFaultName(ChipFault::NotBlank), "not-blank");
}

// After a lost link a step's verdict is not shown: the lost-link text is, in the failure
// colour, and the run is not counted as a bad chip.
TEST_F(RunnerTest, AVerdictAfterALostLinkShowsTheLinkText) {
    SetCurrentStep(3);
    ReportChipFault(ChipFault::NotBlank, 0x123, "芯片不空, 在地址: 00123");
    EXPECT_EQ(LastOutcome().kind, OutcomeKind::ChipFailed);
    EXPECT_EQ(LastOutcome().address, 0x123u);
    EXPECT_EQ(LastOutcome().step, 3);

    ResetOutcome();
    CountFailureFlag = 100;
    RecordLinkLost();
    ReportChipFault(ChipFault::NotBlank, 0x123, "芯片不空, 在地址: 00123");
    EXPECT_EQ(LastOutcome().kind, OutcomeKind::LinkLost);
    EXPECT_EQ(window_.StatusLine(), kLinkLostText);
    EXPECT_EQ(window_.StatusFailureFlags().back(), 1);
    EXPECT_EQ(CountFailureFlag, 0);
}

TEST_F(RunnerTest, SupplyFaultWarnsAndBeepsThreeTimesOnlyWithTheBuzzerOn) {
    test::RecordingBuzzer buzzer;
    HandleVddVppFault();
    EXPECT_TRUE(buzzer.Tones().empty());
    ASSERT_EQ(window_.MessageBoxes().size(), 1u);
    EXPECT_EQ(window_.MessageBoxes()[0].caption, "警  告");
    EXPECT_EQ(window_.MessageBoxes()[0].text, kSupplyFaultText);
    EXPECT_EQ(window_.MessageBoxes()[0].icon, MessageIcon::Warning);
    EXPECT_EQ(window_.StatusLine(), "编程电压错误,编程失败");
    EXPECT_EQ(FailureFlag, 1);

    AutoFunc = kFuncBuzzerOn;
    HandleVddVppFault();
    const std::vector<test::RecordingBuzzer::Tone> three(3, {1000, 100});
    EXPECT_EQ(buzzer.Tones(), three);
}

}  // namespace
}  // namespace koru

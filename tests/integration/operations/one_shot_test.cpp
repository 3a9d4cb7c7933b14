#include "operations/one_shot.h"

#include <gtest/gtest.h>

#include "core/shared_state.h"
#include "link/command_block.h"
#include "link/connection.h"
#include "operations/link_faults.h"
#include "operations/runner.h"
#include "tests/integration/support/simulator_fixture.h"
#include "tests/support/recording_buzzer.h"

namespace koru {
namespace {

class OneShotTest : public test::SimulatorTest {
  protected:
    OneShotTest() { Connect(); }
};

struct OneShotCase {
    std::uint8_t code;
    const char* success;
    const char* refusal;
};

TEST_F(OneShotTest, EachCommandReportsTheProgrammersAnswer) {
    const OneShotCase cases[] = {
        {kEraseMtp, "芯片已擦除!", "擦除芯片失败!"},
        {kEnableSmart, "芯片SMART系统已使能!", "使能芯片SMART系统失败!"},
        {kReadProtect, "芯片读保护已使能!", "使能芯片读保护失败!"},
        {kLdcProtect, "芯片LDC保护已使能!", "使能芯片LDC保护失败!"},
        {kHwWriteProtect, "芯片硬件写保护成功!", "使能芯片硬件写保护失败!"},
    };
    for (const OneShotCase& c : cases) {
        sim_.ClearScripts();
        RunAndWait(c.code);
        EXPECT_EQ(window_.StatusLine(), c.success) << int(c.code);
        EXPECT_EQ(FailureFlag, 0);
        EXPECT_EQ(sim_.Exchanges().back().Code(), c.code);

        device::CommandScript refuse;
        refuse.firstStatus = "NO";
        sim_.Script(c.code, refuse);
        RunAndWait(c.code);
        EXPECT_EQ(window_.StatusLine(), c.refusal) << int(c.code);
        EXPECT_EQ(FailureFlag, 1);
    }
    EXPECT_TRUE(window_.MessageBoxes().empty());
}

TEST_F(OneShotTest, SupplyFaultGivesTheBoxAndThreeBeepsOnlyWithTheBuzzer) {
    test::RecordingBuzzer buzzer;
    device::CommandScript fault;
    fault.firstStatus = "EV";
    sim_.Script(kReadProtect, fault);

    RunAndWait(kReadProtect);
    EXPECT_EQ(window_.StatusLine(), kSupplyFaultStatus);
    EXPECT_EQ(FailureFlag, 1);
    ASSERT_EQ(window_.MessageBoxes().size(), 1u);
    EXPECT_EQ(window_.MessageBoxes()[0].caption, kSupplyFaultCaption);
    EXPECT_TRUE(buzzer.Tones().empty());

    AutoFunc = kFuncBuzzerOn;
    RunAndWait(kReadProtect);
    EXPECT_EQ(buzzer.Tones().size(), 3u);
}

TEST_F(OneShotTest, SilenceAfterTheAnswerFailsAfterAllAttempts) {
    device::CommandScript silent;
    silent.silentFrom = device::Silence::AfterAnswer;
    sim_.Script(kEraseMtp, silent);
    const long long ms = test::MillisecondsOf([this] { RunAndWait(kEraseMtp); });
    EXPECT_EQ(window_.StatusLine(), kOperationFailedText);
    EXPECT_EQ(FailureFlag, 1);
    EXPECT_GE(ms, 1500);  // 100 attempts of about 18 ms
}

TEST_F(OneShotTest, AnUnexpectedReplyFails) {
    device::CommandScript odd;
    odd.firstStatus = "OX";
    sim_.Script(kEraseMtp, odd);
    RunAndWait(kEraseMtp);
    EXPECT_EQ(window_.StatusLine(), kOperationFailedText);
    EXPECT_EQ(FailureFlag, 1);
}

TEST_F(OneShotTest, NoAnswerToTheBlockIsALinkFailure) {
    device::CommandScript silent;
    silent.silentFrom = device::Silence::InsteadOfAnswer;
    sim_.Script(kEraseMtp, silent);
    CountFailureFlag = 100;
    RunAndWait(kEraseMtp);
    EXPECT_EQ(window_.StatusLine(), kLinkBusyText);
    EXPECT_EQ(CountFailureFlag, 0);
    EXPECT_EQ(window_.TickRestarts(), 1);
}

}  // namespace
}  // namespace koru

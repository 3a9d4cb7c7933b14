#include "link/connection.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "core/shared_state.h"
#include "image/program_memory.h"
#include "link/command_block.h"
#include "link/reset_listener.h"
#include "tests/integration/support/simulator_fixture.h"
#include "tests/support/wait.h"

namespace koru {
namespace {

using test::MillisecondsOf;

class ConnectionTest : public test::SimulatorTest {};

TEST_F(ConnectionTest, ProbeSendsFillersWhereNothingIsChosenAndFindsTheProgrammer) {
    SelectOtp();  // the MTP-only options then count for nothing, marked or not
    window_.SetChoice(Choice::AutoHwProtect, true, false);
    window_.SetChoice(Choice::AutoVerify, true);
    window_.SetChoice(Choice::Vdd50, false);
    ProgramMemory[0x3C] = 0xA1;
    ProgramMemory[0x3F] = 0xA4;

    Connect();

    EXPECT_EQ(window_.StatusHistory().front(), kProbeAnnounceText);
    EXPECT_EQ(window_.StatusLine(), "OK, 已检测到 KORU V2.0B 连接在端口 COM1");
    EXPECT_EQ(FailureFlag, 0);
    EXPECT_EQ(PortSelectedFlag, 1);
    EXPECT_EQ(BusyFlag, 0);
    EXPECT_EQ(window_.CursorRefreshes(), 2);

    const auto exchanges = sim_.Exchanges();
    ASSERT_EQ(exchanges.size(), 1u);
    const std::array<std::uint8_t, kCommandBlockSize> expected{
        'Z',  'E',  'P',  'H',  1,    kChipOtp, 0x55, 0x55, kAutoVerify, 0x55, 0x55,
        0x55, 0x55, 0x55, 0x55, 0x00, 0x00,     0xA1, 0xFF, 0xFF,        0xA4};
    EXPECT_EQ(exchanges[0].block, expected);
}

TEST_F(ConnectionTest, FoundTextUpperCasesComNamesAndShowsDevicePathsAsTheyAre) {
    const std::string path = sim_.SlavePath();
    const struct {
        std::string chosen;
        std::string shown;
    } cases[] = {{"com1", "COM1"}, {"COM1", "COM1"}, {path, path}};
    for (const auto& c : cases) {
        ProbePort(c.chosen);
        EXPECT_EQ(window_.StatusLine(), kProbeFoundText + c.shown) << c.chosen;
    }
}

TEST_F(ConnectionTest, ChecksumFieldGoesOutAsSixteenBitsOrAllOnesWhenNotHexadecimal) {
    window_.SetField(TextField::Checksum, "E000");
    Connect();
    window_.SetField(TextField::Checksum, "E0X0");
    Connect();
    const auto exchanges = sim_.Exchanges();
    ASSERT_EQ(exchanges.size(), 2u);
    EXPECT_EQ(exchanges[0].Checksum(), 0xE000);
    EXPECT_EQ(exchanges[1].Checksum(), 0xFFFF);
    EXPECT_EQ(exchanges[1].block[kBlockChipKind], kChipMtp);
    EXPECT_EQ(exchanges[1].block[kBlockDataType], 1);
    EXPECT_EQ(exchanges[1].block[kBlockVdd], 1);
}

TEST_F(ConnectionTest, SilentProgrammerFailsTheProbeAfterTwoAttempts) {
    device::CommandScript silent;
    silent.silentFrom = device::Silence::InsteadOfAnswer;
    sim_.ScriptAll(silent);
    CountFailureFlag = 100;

    const long long ms = MillisecondsOf([] { ProbePort("COM1"); });

    EXPECT_EQ(window_.StatusLine(), kLinkBusyText);
    EXPECT_EQ(FailureFlag, 1);
    EXPECT_EQ(PortSelectedFlag, 1);
    EXPECT_EQ(ProgrammerFoundFlag, 0);
    EXPECT_EQ(CountFailureFlag, 0);
    EXPECT_EQ(window_.TickRestarts(), 1);
    EXPECT_TRUE(window_.MessageBoxes().empty());
    EXPECT_EQ(sim_.Exchanges().size(), 2u);
    // Two attempts of 21 bytes, 80 ms, a 198 ms give-up, and 100 ms between them.
    EXPECT_GE(ms, 500);
    EXPECT_LE(ms, 2000);
}

TEST_F(ConnectionTest, AnAnswerCutShortIsNoAnswer) {
    device::CommandScript cut;
    cut.answerLength = 20;
    sim_.ScriptAll(cut);
    ProbePort("COM1");
    EXPECT_EQ(ProgrammerFoundFlag, 0);
    EXPECT_EQ(window_.StatusLine(), kLinkBusyText);
}

TEST_F(ConnectionTest, PortThatCannotBeOpenedStillCountsAsSelected) {
    setenv("KORU_COM2", "/dev/koru-no-such-port", 1);
    CommandBlock.fill(0x42);
    ProbePort("COM2");
    EXPECT_EQ(window_.StatusLine(), kLinkBusyText);
    EXPECT_EQ(PortSelectedFlag, 1);
    EXPECT_EQ(ProgrammerFoundFlag, 0);
    EXPECT_EQ(FailureFlag, 1);
    EXPECT_EQ(CommandBlock[0], 0x42);  // never opened, so never refreshed
    EXPECT_FALSE(OpenPort("COM2"));
}

TEST_F(ConnectionTest, ListenerNoticesARestartWithinOneTick) {
    device::CommandScript silent;
    silent.silentFrom = device::Silence::InsteadOfAnswer;
    sim_.ScriptAll(silent);
    ProbePort("COM1");  // the port stays open, the programmer silent
    ASSERT_EQ(ProgrammerFoundFlag, 0);
    CodeLoadedFlag = 1;
    ProgramMemory[0x100] = 0x12;

    sim_.SendReset();
    ASSERT_TRUE(sim_.WaitForOutputSent(std::chrono::seconds(2)));
    OnListenTick();
    ASSERT_TRUE(test::WaitUntil([] { return LiveListenerThreads() == 0; }));

    EXPECT_EQ(window_.StatusLine(), kProgrammerResetText);
    EXPECT_EQ(ProgrammerFoundFlag, 1);
    EXPECT_EQ(FailureFlag, 1);
    EXPECT_EQ(CodeLoadedFlag, 0);
    EXPECT_EQ(ProgramMemory[0x100], 0xFF);
    EXPECT_EQ(SumImageRange(0, kImageSize - 1), static_cast<std::uint16_t>(0xFF * kImageSize));
}

TEST_F(ConnectionTest, AnIncompleteAnnouncementLeavesTheFailureFlagAsFound) {
    Connect();
    for (int found : {0, 1}) {
        FailureFlag = found;
        sim_.Send({'Z', 'E', 'P', 'H', 'R', 'E', 'S'});
        ASSERT_TRUE(sim_.WaitForOutputSent(std::chrono::seconds(2)));
        ResetListener();
        EXPECT_EQ(FailureFlag, found);
        EXPECT_EQ(window_.StatusLine(), "OK, 已检测到 KORU V2.0B 连接在端口 COM1");
    }
}

TEST_F(ConnectionTest, NoListenerStartsWhileBusyOrWhileOneHoldsThePort) {
    Connect();
    BusyFlag = 1;
    OnListenTick();
    EXPECT_FALSE(ResetListenerRunning());
    BusyFlag = 0;
    OnListenTick();
    EXPECT_TRUE(ResetListenerRunning());
    OnListenTick();  // skipped: still listening
    EndResetListener();
    EXPECT_FALSE(ResetListenerRunning());
    ASSERT_TRUE(test::WaitUntil([] { return LiveListenerThreads() == 0; }));
}

TEST_F(ConnectionTest, PortThatVanishesWhileOpenFailsTheExchangeInBoundedTime) {
    Connect();
    sim_.HangUp();
    const long long ms = MillisecondsOf([] { EXPECT_FALSE(ConnectAndSend()); });
    EXPECT_EQ(FailureFlag, 1);
    EXPECT_LE(ms, 3000);
}

}  // namespace
}  // namespace koru

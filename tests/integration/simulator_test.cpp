// The simulated programmer's side of each exchange, as the program's transport sees it: these
// pin the device contract that the connection and the chip operations are tested against.

#include "device/simulator.h"

#include <gtest/gtest.h>

#include <chrono>
#include <numeric>
#include <string>
#include <vector>

#include "core/shared_state.h"
#include "link/transport.h"
#include "platform/serial_port.h"
#include "tests/support/process_state.h"

namespace koru {
namespace {

using device::ChipKind;
using device::CommandScript;
using device::Silence;
using device::SumFault;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

class SimulatorTest : public test::ProcessStateTest {
  protected:
    void SetUp() override {
        device::DeviceTiming timing;
        timing.stepBytes = 0x100;
        ASSERT_TRUE(sim_.Start(timing));
        sim_.SetChip(ChipKind::Mtp, 0x1000);
        ASSERT_TRUE(Port().Open(sim_.SlavePath()));
        ApplyNormalTimeouts();  // as every exchange starts; a fresh port has none
    }
    void TearDown() override { Port().Close(); }

    // Sends a command block and takes the 21-byte answer; true when it came whole.
    bool Open(std::uint8_t code, std::uint32_t start = 0, std::uint32_t end = 0,
              std::uint16_t sum = 0) {
        const std::uint8_t block[device::kBlockSize] = {'Z',
                                                        'E',
                                                        'P',
                                                        'H',
                                                        code,
                                                        2,
                                                        1,
                                                        1,
                                                        0x24,
                                                        static_cast<std::uint8_t>(start >> 16),
                                                        static_cast<std::uint8_t>(start >> 8),
                                                        static_cast<std::uint8_t>(start),
                                                        static_cast<std::uint8_t>(end >> 16),
                                                        static_cast<std::uint8_t>(end >> 8),
                                                        static_cast<std::uint8_t>(end),
                                                        static_cast<std::uint8_t>(sum >> 8),
                                                        static_cast<std::uint8_t>(sum),
                                                        0xA1,
                                                        0xA2,
                                                        0xA3,
                                                        0xA4};
        FailureFlag = 0;
        ConfigurePort();
        std::uint32_t count = 0;
        SendBytes(block, sizeof block, count);
        std::uint8_t answer[device::kBlockSize];
        ReceiveBytes(answer, sizeof answer, count);
        return FailureFlag == 0 && count == sizeof answer;
    }

    // A reply of length bytes as text ("" when nothing came).
    std::string Reply(std::uint32_t length, std::uint32_t attempts = 30) {
        std::uint8_t buffer[16];
        ReadReply(buffer, sizeof buffer, length, attempts);
        return FailureFlag != 0 ? std::string()
                                : std::string(reinterpret_cast<char*>(buffer), length);
    }

    // The addresses of progress reports until one reaches atLeast or the device falls silent.
    std::vector<std::uint32_t> Reports(std::uint32_t until, bool above) {
        std::vector<std::uint32_t> reports;
        for (;;) {
            std::uint8_t buffer[8];
            ReadReply(buffer, sizeof buffer, 3, kWordReplyAttempts);
            if (FailureFlag != 0) {
                return reports;
            }
            const std::uint32_t a = buffer[0] << 16 | buffer[1] << 8 | buffer[2];
            reports.push_back(a);
            if (above ? a > until : a >= until) {
                return reports;
            }
        }
    }

    static std::vector<std::uint8_t> Pattern(std::size_t count, std::uint8_t first) {
        std::vector<std::uint8_t> bytes(count);
        std::iota(bytes.begin(), bytes.end(), first);
        return bytes;
    }

    static std::uint16_t Sum(const std::vector<std::uint8_t>& bytes) {
        return static_cast<std::uint16_t>(std::accumulate(bytes.begin(), bytes.end(), 0u));
    }

    device::Simulator sim_;
};

TEST_F(SimulatorTest, TheAnswerEchoesTheBlockAndTheBlockIsRecorded) {
    ASSERT_TRUE(Open(device::kCodeProbe, 0x012345, 0x0ABCDE, 0xBEEF));
    const auto exchanges = sim_.Exchanges();
    ASSERT_EQ(exchanges.size(), 1u);
    EXPECT_EQ(exchanges[0].Code(), device::kCodeProbe);
    EXPECT_EQ(exchanges[0].Start(), 0x012345u);
    EXPECT_EQ(exchanges[0].End(), 0x0ABCDEu);
    EXPECT_EQ(exchanges[0].Checksum(), 0xBEEF);
    EXPECT_EQ(device::DescribeBlock(exchanges[0].block),
              "code 1 (probe) chip 02 data 01 vdd 01 auto 24 range 12345..ABCDE sum BEEF "
              "bytes3C A1 A2 A3 A4");
    // Nothing follows a probe.
    EXPECT_EQ(Reply(1, 2), "");
}

TEST_F(SimulatorTest, ChecksumReportsProgressUpToTheEndThenTheSum) {
    const auto bytes = Pattern(0x300, 7);
    sim_.WriteChip(0x100, bytes);
    ASSERT_TRUE(Open(device::kCodeChecksum, 0x100, 0x3FF));
    EXPECT_EQ(Reply(2, 50), "OK");
    EXPECT_EQ(Reports(0x3FF, false), (std::vector<std::uint32_t>{0x1FF, 0x2FF, 0x3FF}));
    EXPECT_EQ(ReadWordReply(), Sum(bytes));
    EXPECT_EQ(FailureFlag, 0);
}

TEST_F(SimulatorTest, ChecksumOfOneByteStillSendsAReportAtTheEndAndTheSum) {
    sim_.WriteChip(0x20, {0x5A});
    ASSERT_TRUE(Open(device::kCodeChecksum, 0x20, 0x20));
    EXPECT_EQ(Reply(2, 50), "OK");
    EXPECT_EQ(Reports(0x20, false), (std::vector<std::uint32_t>{0x20}));
    EXPECT_EQ(ReadWordReply(), 0x5A);
}

TEST_F(SimulatorTest, ChecksumFaults) {
    CommandScript script;
    script.sum = SumFault::Wrong;
    script.once = true;
    sim_.Script(device::kCodeChecksum, script);
    ASSERT_TRUE(Open(device::kCodeChecksum, 0, 0xFF));
    EXPECT_EQ(Reply(2, 50), "OK");
    EXPECT_EQ(Reports(0xFF, false).size(), 1u);
    EXPECT_EQ(ReadWordReply(), 0xFF * 0x100 + 1);  // 256 blank bytes, plus one

    script.sum = SumFault::None;
    script.silentAfterReport = 0x180;
    sim_.Script(device::kCodeChecksum, script);
    ASSERT_TRUE(Open(device::kCodeChecksum, 0, 0x2FF));
    EXPECT_EQ(Reply(2, 50), "OK");
    EXPECT_EQ(Reports(0x2FF, false), (std::vector<std::uint32_t>{0xFF, 0x180}));
    EXPECT_EQ(ReadWordReply(), 0);
    EXPECT_EQ(FailureFlag, 1);
}

TEST_F(SimulatorTest, BlankCheckReportsPastTheEndWhenBlankAndFallsSilentWhereItIsNot) {
    ASSERT_TRUE(Open(device::kCodeBlankCheck, 0, 0x1FF));
    EXPECT_EQ(Reply(2, 50), "OK");
    EXPECT_EQ(Reports(0x1FF, true), (std::vector<std::uint32_t>{0x100, 0x200}));
    EXPECT_EQ(FailureFlag, 0);

    sim_.WriteChip(0x123, {0x00});
    ASSERT_TRUE(Open(device::kCodeBlankCheck, 0, 0x1FF));
    EXPECT_EQ(Reply(2, 50), "OK");
    EXPECT_EQ(Reports(0x1FF, true), (std::vector<std::uint32_t>{0x100, 0x123}));
    EXPECT_EQ(FailureFlag, 1);  // silent after the address where the chip is not blank

    // One byte, blank: a report above it. Scripted: silent at a chosen address.
    ASSERT_TRUE(Open(device::kCodeBlankCheck, 0x50, 0x50));
    EXPECT_EQ(Reply(2, 50), "OK");
    EXPECT_EQ(Reports(0x50, true), (std::vector<std::uint32_t>{0x51}));
    CommandScript script;
    script.silentAfterReport = 0x40;
    sim_.Script(device::kCodeBlankCheck, script);
    ASSERT_TRUE(Open(device::kCodeBlankCheck, 0, 0xFF));
    EXPECT_EQ(Reply(2, 50), "OK");
    EXPECT_EQ(Reports(0xFF, true), (std::vector<std::uint32_t>{0x40}));
}

TEST_F(SimulatorTest, ReadChipSendsStatusBytesAndSumOrTheScriptedFaults) {
    const auto bytes = Pattern(0x100, 0x80);
    sim_.WriteChip(0x200, bytes);
    std::vector<std::uint8_t> buffer(0x100);
    std::uint32_t received = 0;

    ASSERT_TRUE(Open(device::kCodeReadChip, 0x200, 0x2FF));
    EXPECT_EQ(Reply(2, 50), "OK");
    ReceiveBytes(buffer.data(), 0x100, received);
    EXPECT_EQ(buffer, bytes);
    EXPECT_EQ(ReadWordReply(), Sum(bytes));
    EXPECT_EQ(FailureFlag, 0);

    CommandScript script;
    script.sum = SumFault::Missing;
    sim_.Script(device::kCodeReadChip, script);
    ASSERT_TRUE(Open(device::kCodeReadChip, 0x200, 0x2FF));
    EXPECT_EQ(Reply(2, 50), "OK");
    ReceiveBytes(buffer.data(), 0x100, received);
    EXPECT_EQ(FailureFlag, 0);
    EXPECT_EQ(ReadWordReply(), 0);
    EXPECT_EQ(FailureFlag, 1);

    script.sum = SumFault::None;
    script.dataCutAfter = 100;
    script.firstStatus = "NO";  // the device says no, and goes on all the same
    sim_.Script(device::kCodeReadChip, script);
    ASSERT_TRUE(Open(device::kCodeReadChip, 0x200, 0x2FF));
    EXPECT_EQ(Reply(2, 50), "NO");
    ReceiveBytes(buffer.data(), 0x100, received);
    EXPECT_EQ(received, 100u);
    EXPECT_EQ(FailureFlag, 1);
}

TEST_F(SimulatorTest, ProgramTakesWholeUnitsOfEightAndChecksTheSum) {
    sim_.SetChip(ChipKind::Otp, 0x100, 0xFF);
    sim_.WriteChip(0x10, {0xF0});
    const auto data = Pattern(13, 0x31);
    auto sent = data;
    sent.resize(16, 0xEE);  // the three bytes past the end go out too
    ASSERT_TRUE(Open(device::kCodeProgram, 0x10, 0x1C, Sum(data)));
    EXPECT_EQ(Reply(2, 50), "OK");
    DelayMs(50);
    for (std::size_t at = 0; at < sent.size(); at += 8) {
        std::uint32_t count = 0;
        SendBytes(sent.data() + at, 8, count);
    }
    EXPECT_EQ(Reply(2, 100), "OK");
    const auto chip = sim_.ChipContents();
    EXPECT_EQ(chip[0x10], 0x31 & 0xF0);  // OTP: programming only clears bits
    EXPECT_TRUE(std::equal(data.begin() + 1, data.end(), chip.begin() + 0x11));
    EXPECT_EQ(chip[0x1D], 0xFF);  // the padding is not programmed
    const auto exchanges = sim_.Exchanges();
    ASSERT_EQ(exchanges.size(), 1u);
    EXPECT_EQ(exchanges[0].data, sent);

    // A sum that does not match the data: something other than "OK".
    ASSERT_TRUE(Open(device::kCodeProgram, 0x10, 0x1C, Sum(data) + 1));
    EXPECT_EQ(Reply(2, 50), "OK");
    std::uint32_t count = 0;
    SendBytes(sent.data(), 16, count);
    EXPECT_EQ(Reply(2, 100), "NO");
}

TEST_F(SimulatorTest, ProgramDataCutShortGetNoReply) {
    ASSERT_TRUE(Open(device::kCodeProgram, 0, 0xF));
    EXPECT_EQ(Reply(2, 50), "OK");
    std::uint8_t eight[8] = {};
    std::uint32_t count = 0;
    SendBytes(eight, 8, count);
    EXPECT_EQ(Reply(2, 5), "");
    EXPECT_EQ(FailureFlag, 1);
}

TEST_F(SimulatorTest, OneShotsChangeTheChipOrAreRefused) {
    sim_.WriteChip(0, {0x00});
    ASSERT_TRUE(Open(device::kCodeReadProtect));
    EXPECT_EQ(Reply(2, 100), "OK");
    EXPECT_TRUE(sim_.Chip().protection.read);
    ASSERT_TRUE(Open(device::kCodeErase));
    EXPECT_EQ(Reply(2, 100), "OK");
    EXPECT_EQ(sim_.ChipContents()[0], 0xFF);
    EXPECT_FALSE(sim_.Chip().protection.read);
    ASSERT_TRUE(Open(device::kCodeHwWriteProtect));
    EXPECT_EQ(Reply(2, 100), "OK");
    ASSERT_TRUE(Open(device::kCodeErase));
    EXPECT_EQ(Reply(2, 100), "NO");  // write protected

    sim_.SetChip(ChipKind::Otp, 0x100);
    for (std::uint8_t code : {device::kCodeErase, device::kCodeSmart, device::kCodeLdcProtect,
                              device::kCodeHwWriteProtect}) {
        ASSERT_TRUE(Open(code));
        EXPECT_EQ(Reply(2, 100), "NO") << int{code};
    }

    CommandScript script;
    script.firstStatus = "EV";
    sim_.Script(device::kCodeReadProtect, script);
    ASSERT_TRUE(Open(device::kCodeReadProtect));
    EXPECT_EQ(Reply(2, 100), "EV");
    EXPECT_FALSE(sim_.Chip().protection.read);  // a scripted status leaves the chip alone
}

TEST_F(SimulatorTest, SilenceAndShortAnswersAsScripted) {
    CommandScript script;
    script.silentFrom = Silence::InsteadOfAnswer;
    script.once = true;
    sim_.ScriptAll(script);
    EXPECT_FALSE(Open(device::kCodeProbe));
    EXPECT_TRUE(Open(device::kCodeProbe));  // once: the next block is answered

    script.silentFrom = Silence::Never;
    script.answerLength = 20;
    sim_.Script(device::kCodeProbe, script);
    EXPECT_FALSE(Open(device::kCodeProbe));

    script.answerLength.reset();
    script.silentFrom = Silence::AfterAnswer;
    sim_.Script(device::kCodeReadChip, script);
    EXPECT_TRUE(Open(device::kCodeReadChip, 0, 0xF));
    EXPECT_EQ(Reply(2, 5), "");

    script.silentFrom = Silence::Never;
    script.garbage = {'x', 'y', 'z'};
    sim_.Script(device::kCodeErase, script);
    EXPECT_TRUE(Open(device::kCodeErase));
    EXPECT_EQ(Reply(2, 100), "xy");
}

TEST_F(SimulatorTest, StrayBytesAreTakenSilentlyAndTheNextBlockIsAnswered) {
    const std::uint8_t closing[4] = {'0', '0', '0', '0'};
    std::uint32_t count = 0;
    SendBytes(closing, 4, count);
    // The next exchange purges the port first: let the device have them before.
    ASSERT_TRUE(sim_.WaitForReceivedBytes(4, milliseconds(1000)));
    EXPECT_TRUE(Open(device::kCodeProbe));
    EXPECT_EQ(sim_.StrayBytes(), (std::vector<std::uint8_t>{'0', '0', '0', '0'}));
    EXPECT_EQ(sim_.Exchanges().size(), 1u);
    EXPECT_EQ(sim_.ReceivedBytes().size(), 4u + device::kBlockSize);
}

TEST_F(SimulatorTest, ResetAnnouncementAndHangUpOnDemand) {
    ApplyListenTimeouts();
    sim_.SendReset();
    EXPECT_EQ(Reply(9, 5), "ZEPHRESET");

    CommandScript script;
    script.silentFrom = Silence::AfterStatus;
    script.hangUpWhenSilent = true;
    sim_.Script(device::kCodeChecksum, script);
    ASSERT_TRUE(Open(device::kCodeChecksum, 0, 0xFF));
    EXPECT_EQ(Reply(2, 50), "OK");
    const auto begin = Clock::now();
    EXPECT_EQ(ReadWordReply(), 0);
    EXPECT_EQ(FailureFlag, 1);
    EXPECT_LT(Clock::now() - begin, milliseconds(1500));
    EXPECT_TRUE(sim_.WaitForHangUp(milliseconds(1000)));
    EXPECT_FALSE(Port().SetupQueues(1024, 1024));
}

TEST_F(SimulatorTest, ThePortMayBeClosedAndOpenedAgainWhileTheDeviceServes) {
    Port().Close();
    DelayMs(20);  // the device keeps its side open meanwhile
    ASSERT_TRUE(Port().Open(sim_.SlavePath()));
    EXPECT_TRUE(Open(device::kCodeProbe));
}

TEST(PacedSimulatorTest, BytesTakeTheirLineTimeBothWays) {
    test::ResetProcessState();
    device::Simulator sim;
    device::DeviceTiming timing;
    timing.paceLine = true;
    timing.answerDelay = {};
    ASSERT_TRUE(sim.Start(timing));
    ASSERT_TRUE(Port().Open(sim.SlavePath()));
    ConfigurePort();
    const std::uint8_t block[device::kBlockSize] = {'Z', 'E', 'P', 'H', device::kCodeProbe};
    std::uint32_t count = 0;
    const auto begin = Clock::now();
    SendBytes(block, sizeof block, count);
    std::uint8_t first = 0;
    ReadReply(&first, 1, 1, 50);
    const auto firstByte = Clock::now() - begin;
    std::uint8_t rest[device::kBlockSize - 1];
    ReceiveBytes(rest, sizeof rest, count);
    const auto whole = Clock::now() - begin;
    Port().Close();
    EXPECT_EQ(FailureFlag, 0);
    EXPECT_EQ(count, sizeof rest);
    // 21 frames in, then one frame out before the first byte shows; 42 frames in all.
    EXPECT_GE(firstByte, device::kFrameTime * 22 - milliseconds(1));
    EXPECT_GE(whole, device::kFrameTime * 42 - milliseconds(1));
    EXPECT_LT(whole, milliseconds(500));
}

}  // namespace
}  // namespace koru

#include "operations/program_chip.h"

#include <gtest/gtest.h>

#include <numeric>

#include "core/outcome.h"
#include "core/shared_state.h"
#include "image/numbers.h"
#include "image/program_memory.h"
#include "operations/link_faults.h"
#include "operations/runner.h"
#include "tests/integration/support/simulator_fixture.h"

namespace koru {
namespace {

class ProgramTest : public test::SimulatorTest {
  protected:
    ProgramTest() {
        Connect();
        for (std::uint32_t a = 0; a < 0x400; ++a) {
            ProgramMemory[a] = static_cast<std::uint8_t>(a * 7 + 3);
        }
    }

    // Programs first..last with the image's own checksum in the block, as auto-programming
    // does after a buffer checksum.
    void Program(std::uint32_t first, std::uint32_t last) {
        StartAddress = first;
        EndAddress = last;
        window_.SetField(TextField::Checksum, Hex(SumImageRange(first, last), 4));
        RunAndWait(kProgramChip);
    }

    std::vector<std::uint8_t> Image(std::uint32_t first, std::uint32_t count) {
        return {ProgramMemory.begin() + first, ProgramMemory.begin() + first + count};
    }
};

TEST_F(ProgramTest, SendsWholeBlocksOfEightIncludingTheBytesAfterTheEnd) {
    struct Case {
        std::uint32_t first, last, sent;
    };
    for (const Case& c : {Case{0x100, 0x1FF, 0x100}, Case{0x10, 0x1C, 16}, Case{0x33, 0x33, 8}}) {
        sim_.ClearRecords();
        Program(c.first, c.last);
        EXPECT_EQ(window_.StatusLine(), "编程成功") << c.first;
        EXPECT_EQ(FailureFlag, 0);
        const auto exchanges = sim_.Exchanges();
        ASSERT_EQ(exchanges.size(), 1u);
        EXPECT_EQ(exchanges[0].Code(), kProgramChip);
        EXPECT_EQ(exchanges[0].Start(), c.first);
        EXPECT_EQ(exchanges[0].End(), c.last);
        EXPECT_EQ(exchanges[0].data, Image(c.first, c.sent)) << c.first;
    }
    // Only the range itself is written into the chip.
    const auto chip = sim_.ChipContents();
    EXPECT_EQ(chip[0x33], ProgramMemory[0x33]);
    EXPECT_EQ(chip[0x34], 0xFF);
    EXPECT_EQ(chip[0x1D], 0xFF);
}

TEST_F(ProgramTest, ProgressShowsEvery128Bytes) {
    Program(0, 0x1FF);
    const auto history = window_.StatusHistory();
    EXPECT_EQ(std::count(history.begin(), history.end(), "请稍候,正在编程芯片, 地址: 0080"), 1);
    EXPECT_EQ(std::count(history.begin(), history.end(), "请稍候,正在编程芯片, 地址: 0180"), 1);
}

TEST_F(ProgramTest, SupplyFaultEndsBeforeTheDataPhase) {
    device::CommandScript fault;
    fault.firstStatus = "EV";
    sim_.Script(kProgramChip, fault);
    const std::size_t before = sim_.ReceivedBytes().size();
    Program(0, 0xFF);
    EXPECT_EQ(window_.StatusLine(), kSupplyFaultStatus);
    EXPECT_EQ(FailureFlag, 1);
    EXPECT_EQ(sim_.ReceivedBytes().size(), before + 21);  // the block only
}

TEST_F(ProgramTest, MissingFirstStatusStillSendsTheDataThenFails) {
    device::CommandScript silent;
    silent.silentFrom = device::Silence::AfterAnswer;
    sim_.Script(kProgramChip, silent);
    const std::size_t before = sim_.ReceivedBytes().size();
    Program(0, 0xFF);
    EXPECT_EQ(window_.StatusLine(), "编程失败!");
    EXPECT_EQ(FailureFlag, 1);
    EXPECT_TRUE(sim_.WaitForReceivedBytes(before + 21 + 0x100, std::chrono::seconds(2)));
    EXPECT_TRUE(window_.MessageBoxes().empty());
}

TEST_F(ProgramTest, AFinalReplyOtherThanOkShowsTheChecksumBox) {
    device::CommandScript refuse;
    refuse.finalReply = "NO";
    sim_.Script(kProgramChip, refuse);
    Program(0, 0xFF);
    EXPECT_EQ(FailureFlag, 1);
    ASSERT_EQ(window_.MessageBoxes().size(), 1u);
    EXPECT_EQ(window_.MessageBoxes()[0].caption, "警 告");
    EXPECT_EQ(window_.MessageBoxes()[0].text.rfind("发送数据校验和错误!\n请尝试重新编程", 0), 0u);
    EXPECT_EQ(window_.StatusLine(), "编程芯片失败! [校验和错]");
}

TEST_F(ProgramTest, AWrongChecksumInTheBlockIsRefusedByTheProgrammer) {
    StartAddress = 0;
    EndAddress = 0xFF;
    window_.SetField(TextField::Checksum, "0000");
    RunAndWait(kProgramChip);
    EXPECT_EQ(FailureFlag, 1);
    EXPECT_EQ(window_.StatusLine(), "编程芯片失败! [校验和错]");
}

// Every operation over the range refuses one outside the image alike, before the port.
TEST_F(ProgramTest, ARangeOutsideTheImageIsRefusedWithoutTouchingThePort) {
    const std::pair<std::uint32_t, std::uint32_t> ranges[] = {
        {0xFFFFFFFF, 0xFFFFFFFF}, {0, 0x100000}, {0x100000, 0x100010}};
    for (const std::uint8_t code : {kProgramChip, kBlankCheck, kChipChecksum, kBufferChecksum}) {
        for (const auto& [start, end] : ranges) {
            SCOPED_TRACE(testing::Message() << int(code) << " " << start << "-" << end);
            StartAddress = start;
            EndAddress = end;
            window_.SetField(TextField::Checksum, "");
            const std::size_t before = sim_.ReceivedBytes().size();
            RunAndWait(code);
            EXPECT_EQ(FailureFlag, 1);
            EXPECT_EQ(window_.StatusLine(), kRangeOutsideImageText);
            EXPECT_EQ(sim_.ReceivedBytes().size(), before);
            EXPECT_EQ(window_.Field(TextField::Checksum), "");
        }
    }
}

// The final reply's window must open only once the data has left the line: a kernel buffer
// that takes all 8 KiB at once would otherwise leave the programmer seconds behind.
TEST_F(ProgramTest, EightKilobytesSucceedOverALinePacedLikeARealOne) {
    device::DeviceTiming paced;
    paced.paceLine = true;
    sim_.SetTiming(paced);
    sim_.SetChip(device::ChipKind::Mtp, 0x2000);
    for (std::uint32_t a = 0; a < 0x2000; ++a) {
        ProgramMemory[a] = static_cast<std::uint8_t>(a >> 3);
    }
    Program(0, 0x1FFF);
    EXPECT_EQ(window_.StatusLine(), "编程成功");
    EXPECT_EQ(FailureFlag, 0);
    const auto chip = sim_.ChipContents();
    EXPECT_TRUE(std::equal(chip.begin(), chip.begin() + 0x2000, ProgramMemory.begin()));
}

TEST_F(ProgramTest, TheLastBlockBelowTheTopOfTheImageIsPaddedWithBlanks) {
    sim_.SetChip(device::ChipKind::Mtp, kImageSize);
    ProgramMemory[kImageSize - 1] = 0x5A;
    Program(kImageSize - 1, kImageSize - 1);
    const auto exchanges = sim_.Exchanges();
    ASSERT_FALSE(exchanges.empty());
    const std::vector<std::uint8_t> expected{0x5A, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(exchanges.back().data, expected);
    EXPECT_EQ(FailureFlag, 0);
}

class BlankCheckTest : public test::SimulatorTest {
  protected:
    BlankCheckTest() {
        Connect();
        window_.ClearRecords();
        StartAddress = 0x0100;
        EndAddress = 0x04FF;
    }
};

TEST_F(BlankCheckTest, ABlankChipReportsTheRange) {
    RunAndWait(kBlankCheck);
    EXPECT_EQ(window_.StatusLine(), "芯片是空的, 在地址空间: 00100~~004FF");
    EXPECT_EQ(FailureFlag, 0);
    EXPECT_EQ(window_.StatusHistory().front(), "请稍候,芯片空检查......");
    const auto history = window_.StatusHistory();
    EXPECT_NE(std::find(history.begin(), history.end(), "请稍候,芯片空检查,  地址: 00200"),
              history.end());
}

TEST_F(BlankCheckTest, AProgrammedByteIsReportedWhereTheProgrammerFallsSilent) {
    sim_.WriteChip(0x0345, {0x00});
    RunAndWait(kBlankCheck);
    EXPECT_EQ(window_.StatusLine(), "芯片不空, 在地址: 00345");
    EXPECT_EQ(FailureFlag, 1);
}

TEST_F(BlankCheckTest, NoReportAtAllShowsTheStartAddress) {
    device::CommandScript silent;
    silent.silentFrom = device::Silence::AfterStatus;
    sim_.Script(kBlankCheck, silent);
    RunAndWait(kBlankCheck);
    EXPECT_EQ(window_.StatusLine(), "芯片不空, 在地址: 00100");
    EXPECT_EQ(FailureFlag, 1);
}

TEST_F(BlankCheckTest, AReportCutShortIsNoAnswerNotAProgrammedByte) {
    device::CommandScript cut;
    cut.reportCutAt = 0x0250;
    sim_.Script(kBlankCheck, cut);
    RunAndWait(kBlankCheck);
    EXPECT_EQ(window_.StatusLine(), kOperationFailedText);
    EXPECT_EQ(FailureFlag, 1);
    EXPECT_EQ(LastOutcome().kind, OutcomeKind::NoAnswer);
}

TEST_F(BlankCheckTest, AReportEqualToTheEndKeepsReading) {
    device::CommandScript stop;
    stop.silentAfterReport = 0x04FF;
    sim_.Script(kBlankCheck, stop);
    RunAndWait(kBlankCheck);
    EXPECT_EQ(window_.StatusLine(), "芯片不空, 在地址: 004FF");
    EXPECT_EQ(FailureFlag, 1);
}

TEST_F(BlankCheckTest, OneByteRangeReadsUntilAnAddressAboveIt) {
    StartAddress = 0x20;
    EndAddress = 0x20;
    RunAndWait(kBlankCheck);
    EXPECT_EQ(window_.StatusLine(), "芯片是空的, 在地址空间: 00020~~00020");
    sim_.WriteChip(0x20, {0x7F});
    RunAndWait(kBlankCheck);
    EXPECT_EQ(window_.StatusLine(), "芯片不空, 在地址: 00020");
}

TEST_F(BlankCheckTest, SupplyFaultEndsTheCheck) {
    device::CommandScript fault;
    fault.firstStatus = "EV";
    sim_.Script(kBlankCheck, fault);
    RunAndWait(kBlankCheck);
    EXPECT_EQ(window_.StatusLine(), kSupplyFaultStatus);
    EXPECT_EQ(FailureFlag, 1);
}

}  // namespace
}  // namespace koru

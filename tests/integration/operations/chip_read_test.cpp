#include "operations/chip_read.h"

#include <gtest/gtest.h>

#include "core/outcome.h"
#include "core/shared_state.h"
#include "image/numbers.h"
#include "image/program_memory.h"
#include "operations/chip_block.h"
#include "operations/link_faults.h"
#include "operations/read_block.h"
#include "operations/runner.h"
#include "tests/integration/support/simulator_fixture.h"
#include "tests/support/wait.h"

namespace koru {
namespace {

class ChipReadTest : public test::SimulatorTest {
  protected:
    ChipReadTest() {
        Connect();
        std::vector<std::uint8_t> pattern(0x1000);
        for (std::size_t i = 0; i < pattern.size(); ++i) {
            pattern[i] = static_cast<std::uint8_t>(i ^ 0x5A);
        }
        sim_.WriteChip(0, pattern);
        chip_ = sim_.ChipContents();
        window_.ClearRecords();
    }

    // Verify closes with "0000" after its last reply: the worker may end before the simulator has
    // taken those bytes off the line.
    bool ClosingZerosArrive() {
        const std::vector<std::uint8_t> zeros{'0', '0', '0', '0'};
        test::WaitUntil([&] { return sim_.StrayBytes().size() >= zeros.size(); },
                        std::chrono::seconds(2));
        return sim_.StrayBytes() == zeros;
    }

    void SetRange(std::uint32_t first, std::uint32_t last) {
        StartAddress = first;
        EndAddress = last;
    }

    // Exchanges of one code with their ranges.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> RangesOf(std::uint8_t code) {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges;
        for (const auto& exchange : sim_.Exchanges()) {
            if (exchange.Code() == code) {
                ranges.emplace_back(exchange.Start(), exchange.End());
            }
        }
        return ranges;
    }

    std::vector<std::uint8_t> chip_;
};

TEST_F(ChipReadTest, CopyReadsBlocksOf256AndShowsTheirChecksum) {
    SetRange(0x100, 0x200);  // 257 bytes
    RunAndWait(kCopyChipToImage);
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected{{0x100, 0x1FF},
                                                                        {0x200, 0x200}};
    EXPECT_EQ(RangesOf(kReadChipBlock), expected);
    for (std::uint32_t a = 0x100; a <= 0x200; ++a) {
        ASSERT_EQ(ProgramMemory[a], chip_[a]) << a;
    }
    EXPECT_EQ(ProgramMemory[0xFF], 0xFF);
    EXPECT_EQ(ProgramMemory[0x201], 0xFF);
    const std::string sum = Hex(SumImageRange(0x100, 0x200), 4);
    EXPECT_EQ(window_.StatusLine(), "拷贝芯片数据检查和 =  " + sum);
    EXPECT_EQ(window_.Field(TextField::Checksum), sum);
    EXPECT_EQ(ImageOverwrittenFlag, 1);
    EXPECT_EQ(CodeLoadedFlag, 1);
    EXPECT_EQ(window_.MessageBoxes().at(0).caption, "警 告");
}

TEST_F(ChipReadTest, DecliningTheCopyLeavesEverything) {
    SetRange(0, 0xFF);
    window_.QueueMessageAnswer(MessageAnswer::No);
    RunAndWait(kCopyChipToImage);
    EXPECT_EQ(window_.StatusLine(), "操作已中止");
    EXPECT_EQ(ImageOverwrittenFlag, 0);
    EXPECT_EQ(SumImageRange(0, 0xFF), 0xFF * 0x100);
    EXPECT_TRUE(RangesOf(kReadChipBlock).empty());
}

TEST_F(ChipReadTest, ACopyWithABadBlockEndsThereWithTheImageMarkedOverwritten) {
    SetRange(0, 0x2FF);
    CodeLoadedFlag = 1;
    device::CommandScript wrongSum;
    wrongSum.sum = device::SumFault::Wrong;
    sim_.Script(kReadChipBlock, wrongSum);
    RunAndWait(kCopyChipToImage);
    EXPECT_EQ(window_.StatusLine(), kReadDataErrorText);
    EXPECT_EQ(FailureFlag, 1);
    EXPECT_EQ(ImageOverwrittenFlag, 1);
    EXPECT_EQ(CodeLoadedFlag, 1);
    EXPECT_EQ(RangesOf(kReadChipBlock).size(), 1u);
    EXPECT_EQ(SumImageRange(0, 0xFF), 0xFF * 0x100);  // a block that failed its sum is not used
}

TEST_F(ChipReadTest, VerifyCompareBlockByBlockAndClosesWithZeros) {
    std::copy(chip_.begin(), chip_.begin() + 0x300, ProgramMemory.begin());
    SetRange(0, 0x2FF);
    RunAndWait(kVerifyChip);
    EXPECT_EQ(window_.StatusLine(), "校验芯片成功");
    EXPECT_EQ(FailureFlag, 0);
    EXPECT_EQ(RangesOf(kReadChipBlock).size(), 3u);
    EXPECT_TRUE(ClosingZerosArrive());
}

TEST_F(ChipReadTest, VerifyReportsTheFirstDifferenceInFiveDigits) {
    std::copy(chip_.begin(), chip_.begin() + 0x300, ProgramMemory.begin());
    ProgramMemory[0x10] ^= 1;
    SetRange(0x10, 0x2FF);
    RunAndWait(kVerifyChip);
    EXPECT_EQ(window_.StatusLine(), "校验芯片失败! 在地址: 00010");
    EXPECT_EQ(FailureFlag, 1);
    EXPECT_EQ(RangesOf(kReadChipBlock).size(), 1u);
    EXPECT_TRUE(ClosingZerosArrive());
}

TEST_F(ChipReadTest, VerifyStopsWithoutClosingWhenABlockCannotBeRead) {
    device::CommandScript cut;
    cut.dataCutAfter = 10;
    sim_.Script(kReadChipBlock, cut);
    SetRange(0, 0xFF);
    RunAndWait(kVerifyChip);
    EXPECT_EQ(window_.StatusLine(), kReadDataErrorText);
    EXPECT_EQ(FailureFlag, 1);
    EXPECT_TRUE(sim_.StrayBytes().empty());
}

TEST_F(ChipReadTest, ChipChecksumReadsReportsAndTheSum) {
    SetRange(0, 0xFFF);
    RunAndWait(kChipChecksum);
    std::uint16_t sum = 0;
    for (std::uint32_t a = 0; a <= 0xFFF; ++a) {
        sum = static_cast<std::uint16_t>(sum + chip_[a]);
    }
    EXPECT_EQ(window_.StatusLine(), "芯片检查和 =  " + Hex(sum, 4));
    EXPECT_EQ(FailureFlag, 0);
    EXPECT_EQ(window_.StatusHistory().front(), "请稍候,得到芯片检查和......");
}

TEST_F(ChipReadTest, ChipChecksumOfOneByteReadsItsReportToo) {
    SetRange(0x42, 0x42);
    RunAndWait(kChipChecksum);
    EXPECT_EQ(window_.StatusLine(), "芯片检查和 =  " + Hex(chip_[0x42], 4));
    EXPECT_EQ(FailureFlag, 0);
}

TEST_F(ChipReadTest, ChipChecksumWithoutReportShowsXXXX) {
    device::CommandScript silent;
    silent.silentFrom = device::Silence::AfterStatus;
    sim_.Script(kChipChecksum, silent);
    SetRange(0, 0xFF);
    RunAndWait(kChipChecksum);
    EXPECT_EQ(window_.StatusLine(), "芯片检查和 =  XXXX");
    EXPECT_EQ(FailureFlag, 1);
}

TEST_F(ChipReadTest, UnderAutoRunTheChipSumIsComparedWithTheImage) {
    std::copy(chip_.begin(), chip_.begin() + 0x100, ProgramMemory.begin());
    SetRange(0, 0xFF);
    AutoRunFlag = 1;
    RunOperation(kChipChecksum);
    EXPECT_EQ(window_.StatusLine(), "校验芯片成功!");
    EXPECT_EQ(FailureFlag, 0);

    ProgramMemory[0x80] ^= 0xFF;
    RunOperation(kChipChecksum);
    EXPECT_EQ(window_.StatusLine(), "编程失败,校验芯片错误!");
    EXPECT_EQ(FailureFlag, 1);
}

TEST_F(ChipReadTest, UnderAutoRunAFailedChecksumIsNeverShownAsAMatch) {
    // The image sums to 0, as a failed read does; the read's missing bytes must not read as
    // zeros either, so a good chip whose sum or report is cut is no answer, not a bad chip.
    ProgramMemory.fill(0);
    device::CommandScript missing;
    missing.sum = device::SumFault::Missing;
    device::CommandScript cutSum;
    cutSum.sum = device::SumFault::Cut;
    device::CommandScript cutReport;
    cutReport.reportCutAt = 0x80;
    const struct {
        const char* name;
        device::CommandScript script;
        bool goodChip;
    } cases[] = {{"missing sum", missing, false},
                 {"cut sum", cutSum, true},
                 {"cut report", cutReport, true}};
    SetRange(0, 0xFF);
    AutoRunFlag = 1;
    for (const auto& each : cases) {
        if (each.goodChip) {
            std::copy(chip_.begin(), chip_.begin() + 0x100, ProgramMemory.begin());
        }
        sim_.Script(kChipChecksum, each.script);
        RunOperation(kChipChecksum);
        EXPECT_EQ(FailureFlag, 1) << each.name;
        EXPECT_EQ(window_.StatusLine(), "芯片检查和 =  XXXX") << each.name;
        EXPECT_EQ(LastOutcome().kind, OutcomeKind::NoAnswer) << each.name;
    }
}

TEST_F(ChipReadTest, ReadBlockRefusesATooSmallBuffer) {
    std::uint8_t buffer[16];
    ReadBlock(kReadChipBlock, buffer, sizeof buffer, 0, 16);
    EXPECT_EQ(FailureFlag, 1);
    ASSERT_EQ(window_.MessageBoxes().size(), 1u);
    EXPECT_EQ(window_.MessageBoxes()[0].text, "指定的缓冲区不足以容纳要读取的数据,操作将中止!");
    EXPECT_TRUE(RangesOf(kReadChipBlock).empty());
}

}  // namespace
}  // namespace koru

#include "link/command_block.h"

#include <gtest/gtest.h>

#include "core/shared_state.h"
#include "image/program_memory.h"
#include "tests/support/process_state.h"

namespace koru {
namespace {

class CommandBlockTest : public test::ProcessStateTest {
  protected:
    CommandBlockTest() { CommandBlock.fill(kCommandBlockFiller); }

    void MarkMtpWithAllOptions(bool mtpControlsAvailable) {
        window_.SetChoice(Choice::SerialMtp, true);
        for (Choice option : {Choice::AutoReadProtect, Choice::AutoBlankCheck, Choice::AutoVerify})
            window_.SetChoice(option, true);
        for (Choice mtpOnly : {Choice::AutoLdcProtect, Choice::AutoHwProtect, Choice::AutoSmart,
                               Choice::AutoEraseMtp})
            window_.SetChoice(mtpOnly, true, mtpControlsAvailable);
    }
};

TEST_F(CommandBlockTest, CarriesTheSelectionsTheChecksumAndTheImageBytes) {
    MarkMtpWithAllOptions(true);
    window_.SetChoice(Choice::DataSam, true);
    window_.SetChoice(Choice::Vdd50, true);
    window_.SetField(TextField::Checksum, "E0F1");
    ProgramMemory[0x3C] = 0x11;
    ProgramMemory[0x3D] = 0x22;
    ProgramMemory[0x3E] = 0x33;
    ProgramMemory[0x3F] = 0x44;

    RefreshCommandBlock();

    const std::array<std::uint8_t, kCommandBlockSize> expected{
        'Z',  'E',  'P',  'H',  0x55, 2,    1,    1,    0x7F, 0x55, 0x55,
        0x55, 0x55, 0x55, 0x55, 0xE0, 0xF1, 0x11, 0x22, 0x33, 0x44};
    EXPECT_EQ(CommandBlock, expected);
    EXPECT_EQ(AutoOptions, 0x7Fu);
}

TEST_F(CommandBlockTest, UnavailableOptionsContributeNothingWhateverTheirMark) {
    MarkMtpWithAllOptions(false);
    window_.SetChoice(Choice::SerialMtp, false);
    window_.SetChoice(Choice::SerialOtp, true);
    RefreshCommandBlock();
    EXPECT_EQ(CommandBlock[kBlockAutoLow], kAutoReadProtect | kAutoBlankCheck | kAutoVerify);
    EXPECT_EQ(CommandBlock[kBlockChipKind], kChipOtp);
}

TEST_F(CommandBlockTest, ChoicesThatDoNotQualifyKeepTheLastValue) {
    window_.SetChoice(Choice::DataSam, true, false);  // marked but disabled: not available
    window_.SetChoice(Choice::Vdd33, true, false);
    RefreshCommandBlock();
    EXPECT_EQ(CommandBlock[kBlockChipKind], 0x55);
    EXPECT_EQ(CommandBlock[kBlockDataType], 0x55);
    EXPECT_EQ(CommandBlock[kBlockVdd], 0x55);

    window_.SetChoice(Choice::DataSam, true, true);
    RefreshCommandBlock();
    window_.SetChoice(Choice::DataSam, true, false);
    RefreshCommandBlock();
    EXPECT_EQ(CommandBlock[kBlockDataType], 1);
}

TEST_F(CommandBlockTest, ChecksumFieldTexts) {
    struct Case {
        const char* text;
        std::uint8_t high, low;
    };
    for (const Case& c : {Case{"", 0, 0}, Case{"12G4", 0xFF, 0xFF}, Case{"1ABCD", 0xAB, 0xCD},
                          Case{"0000000123", 0x00, 0x12}}) {
        window_.SetField(TextField::Checksum, c.text);
        RefreshCommandBlock();
        EXPECT_EQ(CommandBlock[kBlockChecksum], c.high) << c.text;
        EXPECT_EQ(CommandBlock[kBlockChecksum + 1], c.low) << c.text;
    }
}

TEST_F(CommandBlockTest, RangeIsTwentyFourBitsMostSignificantFirst) {
    SetCommandRange(0x012345, 0x0FFFFF);
    EXPECT_EQ(CommandBlock[9], 0x01);
    EXPECT_EQ(CommandBlock[10], 0x23);
    EXPECT_EQ(CommandBlock[11], 0x45);
    EXPECT_EQ(CommandBlock[12], 0x0F);
    EXPECT_EQ(CommandBlock[13], 0xFF);
    EXPECT_EQ(CommandBlock[14], 0xFF);
}

}  // namespace
}  // namespace koru

#include "image/program_memory.h"

#include <gtest/gtest.h>

#include "core/outcome.h"
#include "core/shared_state.h"
#include "image/numbers.h"
#include "tests/support/process_state.h"

namespace koru {
namespace {

using test::ProcessStateTest;

class ReadAddressRangeTest : public ProcessStateTest {
  protected:
    void SetFields(const std::string& start, const std::string& end) {
        window_.SetField(TextField::StartAddress, start);
        window_.SetField(TextField::EndAddress, end);
    }
};

TEST_F(ReadAddressRangeTest, ReadsTheLastFourDigitsOfEachField) {
    SetFields("0100", "12345");
    EXPECT_EQ(ReadAddressRange(), 0);
    EXPECT_EQ(StartAddress, 0x100u);
    EXPECT_EQ(EndAddress, 0x2345u);
    EXPECT_EQ(window_.Field(TextField::EndAddress), "12345");  // only rewritten when start >= end
}

TEST_F(ReadAddressRangeTest, StartNotBelowEndMakesAOneByteRangeAndRewritesTheEndField) {
    SetFields("2000", "1000");
    EXPECT_EQ(ReadAddressRange(), 0);
    EXPECT_EQ(StartAddress, 0x2000u);
    EXPECT_EQ(EndAddress, 0x2000u);
    EXPECT_EQ(window_.Field(TextField::EndAddress), "2000");

    SetFields("5", "5");
    EXPECT_EQ(ReadAddressRange(), 0);
    EXPECT_EQ(EndAddress, 5u);
    EXPECT_EQ(window_.Field(TextField::EndAddress), "0005");
}

TEST_F(ReadAddressRangeTest, EmptyFieldsBecomeZero) {
    SetFields("", "1FFF");
    EXPECT_EQ(ReadAddressRange(), 0);
    EXPECT_EQ(window_.Field(TextField::StartAddress), "0000");
    EXPECT_EQ(StartAddress, 0u);
    EXPECT_EQ(EndAddress, 0x1FFFu);

    SetFields("0010", "");
    EXPECT_EQ(ReadAddressRange(), 0);
    EXPECT_EQ(window_.Field(TextField::EndAddress), "0010");  // "0000", then start >= end
    EXPECT_EQ(EndAddress, 0x10u);
}

TEST_F(ReadAddressRangeTest, BadCharacterInTheEndFieldKeepsTheNewStartAndTheOldEnd) {
    StartAddress = 0x11;
    EndAddress = 0x22;
    SetFields("0300", "1G00");
    EXPECT_EQ(ReadAddressRange(), -1);
    EXPECT_EQ(StartAddress, 0x300u);
    EXPECT_EQ(EndAddress, 0x22u);
    EXPECT_EQ(window_.Field(TextField::EndAddress), "1G00");
}

TEST_F(ReadAddressRangeTest, BadCharacterInTheStartFieldChangesNothing) {
    StartAddress = 0x11;
    EndAddress = 0x22;
    SetFields("03 0", "1000");
    EXPECT_EQ(ReadAddressRange(), -1);
    EXPECT_EQ(StartAddress, 0x11u);
    EXPECT_EQ(EndAddress, 0x22u);
}

TEST_F(ReadAddressRangeTest, OnlyTheLastFourCharactersAreChecked) {
    SetFields("xyz0100", "1FFF");
    EXPECT_EQ(ReadAddressRange(), 0);
    EXPECT_EQ(StartAddress, 0x100u);
}

TEST_F(ReadAddressRangeTest, ControlCharacterPassesTheCheckAndReadsAsAllOnes) {
    SetFields("010\t", "0200");
    EXPECT_EQ(ReadAddressRange(), 0);
    EXPECT_EQ(StartAddress, 0xFFFFFFFFu);
    EXPECT_EQ(EndAddress, 0xFFFFFFFFu);  // start >= end
}

class ImageTest : public ProcessStateTest {};

TEST_F(ImageTest, SumOfTheBlankDefaultRangeIsE000) {
    EXPECT_EQ(SumImageRange(0, 0x1FFF), 0xE000);
    StartAddress = 0;
    EndAddress = 0x1FFF;
    BufferChecksum();
    EXPECT_EQ(window_.Field(TextField::Checksum), "E000");
    EXPECT_EQ(window_.StatusLine(), "编程内存检查和 = E000");
    EXPECT_EQ(GetChecksumRange(), (AddressRange{0, 0x1FFF}));
    EXPECT_EQ(FailureFlag, 0);
}

TEST_F(ImageTest, SumWrapsAndHandlesEmptyAndOutOfImageRanges) {
    EXPECT_EQ(SumImageRange(5, 4), 0);
    EXPECT_EQ(SumImageRange(0, kImageSize - 1), static_cast<std::uint16_t>(0xFF * kImageSize));
    EXPECT_EQ(SumImageRange(kImageSize - 1, 0xFFFFFFFF), 0xFF);
    EXPECT_EQ(SumImageRange(kImageSize, kImageSize + 10), 0);
    ProgramMemory[0x10] = 0x01;
    ProgramMemory[0x11] = 0x02;
    EXPECT_EQ(SumImageRange(0x10, 0x11), 3);
}

TEST_F(ImageTest, BufferChecksumRemembersTheRangeItSummed) {
    ProgramMemory[0x100] = 0x12;
    StartAddress = 0x100;
    EndAddress = 0x101;
    FailureFlag = 1;
    BufferChecksum();
    EXPECT_EQ(window_.Field(TextField::Checksum), "0111");
    EXPECT_EQ(GetChecksumRange(), (AddressRange{0x100, 0x101}));
    EXPECT_EQ(FailureFlag, 0);
    EXPECT_EQ(window_.StatusHistory().front(), "请稍候,得到编程内存检查和......");
}

TEST_F(ImageTest, OnlyRangesInsideTheImageEscapeTheRefusal) {
    struct Case {
        std::uint32_t start;
        std::uint32_t end;
        bool refused;
    };
    const Case cases[] = {
        {0, kImageSize - 1, false},     {5, 5, false},         {6, 5, true}, {0, kImageSize, true},
        {kImageSize, kImageSize, true}, {0, 0xFFFFFFFF, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Hex(c.start, 8) + ".." + Hex(c.end, 8));
        FailureFlag = 0;
        window_.SetStatusLine("before");
        EXPECT_EQ(RefuseRangeOutsideImage(c.start, c.end), c.refused);
        EXPECT_EQ(FailureFlag, c.refused ? 1 : 0);
        EXPECT_EQ(window_.StatusLine(), c.refused ? kRangeOutsideImageText : "before");
        if (c.refused) {
            EXPECT_EQ(LastOutcome().kind, OutcomeKind::Refused);
        }
    }
}

TEST_F(ImageTest, RandomSequenceSetsTheDefaultRangeButLeavesTheStartField) {
    window_.SetField(TextField::StartAddress, "0100");
    window_.SetField(TextField::EndAddress, "0200");
    StartAddress = 0x100;
    EndAddress = 0x200;
    SetChecksumRange({0x100, 0x200});

    FillRandomSequence();

    EXPECT_EQ(window_.Field(TextField::StartAddress), "0100");
    EXPECT_EQ(window_.Field(TextField::EndAddress), "1FFF");
    EXPECT_EQ(StartAddress, 0u);
    EXPECT_EQ(EndAddress, 0x1FFFu);
    EXPECT_EQ(GetChecksumRange(), (AddressRange{0, 0x1FFF}));
    EXPECT_EQ(window_.Field(TextField::Checksum), Hex(SumImageRange(0, 0x1FFF), 4));

    // The status lists the eight bytes now in the image, each followed by a comma.
    std::string expected = "随机数序列已产生,并填表入内存代码中,序列为: ";
    for (std::uint32_t a = 0x1FF0; a <= 0x1FF7; ++a) {
        expected += Hex(ProgramMemory[a], 255) + ",";
    }
    EXPECT_EQ(window_.StatusLine(), expected);
    EXPECT_EQ(ProgramMemory[0x1FEF], 0xFF);
    EXPECT_EQ(ProgramMemory[0x1FF8], 0xFF);
}

TEST_F(ImageTest, RandomSequenceDoesNothingWhileAnOperationRuns) {
    BusyFlag = 1;
    FillRandomSequence();
    EXPECT_EQ(SumImageRange(0, 0x1FFF), 0xE000);
    EXPECT_TRUE(window_.StatusHistory().empty());
    EXPECT_EQ(window_.Field(TextField::EndAddress), "");
}

TEST_F(ImageTest, RandomSequenceKeepsTheCodeFlags) {
    CodeLoadedFlag = 1;
    ImageOverwrittenFlag = 1;
    FillRandomSequence();
    EXPECT_EQ(CodeLoadedFlag, 1);
    EXPECT_EQ(ImageOverwrittenFlag, 1);
}

}  // namespace
}  // namespace koru

// The page display and the cell rule on the logic side, against the recording window.

#include "image/memory_view.h"

#include <gtest/gtest.h>

#include "core/shared_state.h"
#include "image/numbers.h"
#include "image/program_memory.h"
#include "operations/read_block.h"
#include "tests/support/process_state.h"

namespace koru::test {
namespace {

class MemoryViewTest : public ProcessStateTest {
  protected:
    MemoryViewTest() { ResetDisplayAddress(); }
};

TEST_F(MemoryViewTest, PageShowsImageBytesWithLabelsAndStatusTexts) {
    for (std::uint32_t i = 0; i < kPageBytes; ++i) {
        ProgramMemory[0x300 + i] = static_cast<std::uint8_t>(0xFF - i);
    }
    DisplayAddress = 0x300;
    ShowMemoryPage(kShowPageEnter, ReadBlockFromChip);

    ASSERT_EQ(window_.MemoryPages().size(), 1u);
    const MemoryPageText page = window_.MemoryPages()[0];
    EXPECT_EQ(page.rowLabels[0], "00300");
    EXPECT_EQ(page.rowLabels[15], "003F0");
    EXPECT_EQ(page.cells[0][0], "FF");
    EXPECT_EQ(page.cells[1][10], "E5");  // 0x31A
    EXPECT_EQ(page.cells[15][15], "00");
    EXPECT_EQ(window_.Field(TextField::DisplayAddress), "00300");
    EXPECT_EQ(window_.StatusHistory(),
              (std::vector<std::string>{"调入代码......", "当前显示代码区段:  00300~003FF"}));
    EXPECT_EQ(FailureFlag.load(), 0);
}

struct AddressCase {
    const char* name;
    std::uint32_t start;
    std::uint8_t code;
    const char* typed;
    std::uint32_t shown;
};

class PageAddressTest : public MemoryViewTest, public ::testing::WithParamInterface<AddressCase> {};

TEST_P(PageAddressTest, MovesAndClampsThePage) {
    const AddressCase& c = GetParam();
    DisplayAddress = c.start;
    window_.SetField(TextField::DisplayAddress, c.typed);
    ShowMemoryPage(c.code, ReadBlockFromChip);
    EXPECT_EQ(DisplayAddress.load(), c.shown);
    EXPECT_EQ(window_.Field(TextField::DisplayAddress), Hex(c.shown, 5));
    EXPECT_EQ(FailureFlag.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, PageAddressTest,
    ::testing::Values(AddressCase{"PreviousAtZero", 0, kShowPagePrevious, "", 0},
                      AddressCase{"PreviousAt50", 0x50, kShowPagePrevious, "", 0},
                      AddressCase{"PreviousAt150", 0x150, kShowPagePrevious, "", 0x50},
                      AddressCase{"NextAtLast", kLastPageAddress, kShowPageNext, "", 0xFFF00},
                      AddressCase{"NextBeforeLast", 0xFFE80, kShowPageNext, "", 0xFFF00},
                      AddressCase{"Typed", 0, kShowPageTyped, "12345", 0x12340},
                      AddressCase{"TypedTop", 0, kShowPageTyped, "FFFFF", 0xFFF00},
                      AddressCase{"TypedLong", 0, kShowPageTyped, "9912345", 0x12340},
                      AddressCase{"TypedShort", 0x500, kShowPageTyped, "7", 0},
                      AddressCase{"ChipSwitchKeeps", 0x1230, kShowPageImage, "", 0x1230},
                      AddressCase{"HighestCode", 0x40, 255, "", 0x40}),
    [](const ::testing::TestParamInfo<AddressCase>& info) { return info.param.name; });

TEST_F(MemoryViewTest, BadDisplayAddressIsRefusedAndNothingIsDrawn) {
    // Letters beyond F, a control character that passes the character check but is no digit,
    // and a text too long to be fitted.
    for (const std::string& typed :
         {std::string("12G45"), std::string("12\t45"), std::string(60, '1')}) {
        window_.ClearRecords();
        FailureFlag = 0;
        DisplayAddress = 0x700;
        window_.SetField(TextField::DisplayAddress, typed);
        ShowMemoryPage(kShowPageTyped, ReadBlockFromChip);
        EXPECT_EQ(FailureFlag.load(), 1) << typed;
        EXPECT_EQ(window_.StatusLine(), "显示地址设置错误!");
        EXPECT_EQ(DisplayAddress.load(), 0x700u);
        EXPECT_TRUE(window_.MemoryPages().empty());
        EXPECT_EQ(window_.Field(TextField::DisplayAddress), typed);
    }
}

TEST_F(MemoryViewTest, AsciiModeAndTheLastPageRange) {
    ProgramMemory[0xFFF00] = 'K';
    ProgramMemory[0xFFF01] = ' ';
    ProgramMemory[0xFFFFF] = '~';
    window_.SetChoice(Choice::AsciiView, true);
    DisplayAddress = kLastPageAddress;
    ShowMemoryPage(kShowPageMode, ReadBlockFromChip);
    const MemoryPageText page = window_.MemoryPages().at(0);
    EXPECT_EQ(page.cells[0][0], "K");
    EXPECT_EQ(page.cells[0][1], "");
    EXPECT_EQ(page.cells[0][2], "");  // 0xFF of the blank image
    EXPECT_EQ(page.cells[15][15], "~");
    EXPECT_EQ(window_.StatusLine(), "当前显示代码区段:  FFF00~FFFFF");
}

TEST_F(MemoryViewTest, ChipPageShowsItsRowLabelsBeforeTheRead) {
    // No port is open, so the chip read fails; the labels were drawn before it began.
    window_.SetChoice(Choice::ChipView, true);
    DisplayAddress = 0x300;
    ShowMemoryPage(kShowPageNext, ReadBlockFromChip);
    const std::vector<MemoryPageText> pages = window_.MemoryPages();
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].rowLabels[0], "00400");
    EXPECT_EQ(pages[0].rowLabels[15], "004F0");
    for (const auto& row : pages[0].cells) {
        for (const std::string& cell : row) {
            EXPECT_EQ(cell, "");
        }
    }
    EXPECT_EQ(pages[1].rowLabels, pages[0].rowLabels);
}

TEST(MemoryCellText, HexAndAscii) {
    EXPECT_EQ(MemoryCellText(0x0A, false), "0A");
    EXPECT_EQ(MemoryCellText(0x41, true), "A");
    EXPECT_EQ(MemoryCellText(0x21, true), "!");
    EXPECT_EQ(MemoryCellText(0x7E, true), "~");
    for (std::uint8_t empty : {0x00, 0x20, 0x7F, 0x80, 0xFF}) {
        EXPECT_EQ(MemoryCellText(empty, true), "") << int(empty);
    }
}

TEST(MemoryCellAddress, FromRowLabelAndColumn) {
    EXPECT_EQ(MemoryCellAddressText("00010", 11), "0001A");
    EXPECT_EQ(MemoryCellAddressText("FFFF0", 16), "FFFFF");
    EXPECT_EQ(MemoryCellAddressText("12340", 1), "12340");
    EXPECT_EQ(MemoryCellAddressText("00010", 0), std::nullopt);
    EXPECT_EQ(MemoryCellAddressText("00010", 17), std::nullopt);
    // A row without a label is no row of the page.
    EXPECT_EQ(MemoryCellAddressText("", 3), std::nullopt);
}

TEST_F(MemoryViewTest, StoredCellValues) {
    EXPECT_EQ(StoreMemoryCell("0001A", "5"), "05");
    EXPECT_EQ(ProgramMemory[0x1A], 0x05);
    EXPECT_EQ(StoreMemoryCell("0001A", "ABC"), "BC");
    EXPECT_EQ(ProgramMemory[0x1A], 0xBC);
    EXPECT_EQ(StoreMemoryCell("FFFFF", ""), "00");
    EXPECT_EQ(ProgramMemory[0xFFFFF], 0x00);
    EXPECT_EQ(ProgramMemory[0x1B], kBlankByte);

    // Refused, storing nothing: not hexadecimal, a control character, too long to fit.
    for (const std::string& value : {std::string("G1"), std::string("1\t"), std::string(50, '1')}) {
        EXPECT_EQ(StoreMemoryCell("00020", value), std::nullopt) << value;
    }
    EXPECT_EQ(ProgramMemory[0x20], kBlankByte);
    // The cell edit leaves the image's checksum state alone.
    EXPECT_EQ(CodeLoadedFlag.load(), 0);
    EXPECT_EQ(ImageOverwrittenFlag.load(), 0);
}

}  // namespace
}  // namespace koru::test

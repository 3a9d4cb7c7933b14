#include "image/numbers.h"

#include <gtest/gtest.h>

#include <cstring>

namespace koru {
namespace {

TEST(ParseNumber, ReadsEachRadixAndFlagsForeignDigits) {
    EXPECT_EQ(ParseNumber("1F", 16), 31u);
    EXPECT_EQ(ParseNumber("1f", 16), 31u);
    EXPECT_EQ(ParseNumber("1G", 16), 0xFFFFFFFFu);
    EXPECT_EQ(ParseNumber("", 16), 0u);
    EXPECT_EQ(ParseNumber("0123", 10), 123u);
    EXPECT_EQ(ParseNumber("12A", 10), 0xFFFFFFFFu);
    EXPECT_EQ(ParseNumber("101", 2), 5u);
    EXPECT_EQ(ParseNumber("102", 2), 0xFFFFFFFFu);
}

TEST(ParseNumber, WrapsModulo2To32) {
    EXPECT_EQ(ParseNumber("FFFFFFFF", 16), 0xFFFFFFFFu);
    EXPECT_EQ(ParseNumber("100000000", 16), 0u);
    EXPECT_EQ(ParseNumber("123456789", 16), 0x23456789u);
    EXPECT_EQ(ParseNumber("4294967296", 10), 0u);
    EXPECT_EQ(ParseNumber("4294967297", 10), 1u);
}

TEST(ParseNumber, ControlCharactersOfHexCharSetPassTheCheckButFailTheRead) {
    for (const char* text : {"12\t", "\r\n", "1\a"}) {
        EXPECT_TRUE(AllCharsIn(text, HexCharSet)) << text;
        EXPECT_EQ(ParseNumber(text, 16), 0xFFFFFFFFu) << text;
    }
}

TEST(HexCharSet, HoldsExactlyTheDigitsOfBothCasesAndFourControlCharacters) {
    EXPECT_EQ(HexCharSet.size(), 26u);
    EXPECT_TRUE(AllCharsIn("0123456789abcdefABCDEF\a\n\r\t", HexCharSet));
    for (char bad : {'g', 'G', ' ', '-', 'x', '\0', '\v'}) {
        EXPECT_FALSE(AllCharsIn(std::string_view(&bad, 1), HexCharSet)) << int(bad);
    }
}

TEST(AllCharsIn, EmptyTextAndEmptySet) {
    EXPECT_TRUE(AllCharsIn("", ""));
    EXPECT_FALSE(AllCharsIn("a", ""));
}

TEST(FormatNumber, PadsAndKeepsLongerValuesWhole) {
    EXPECT_EQ(FormatNumber(0x1A, 16, 4), "001A");
    EXPECT_EQ(FormatNumber(0x12345, 16, 4), "12345");
    EXPECT_EQ(FormatNumber(0xABCDEF, 16, 2), "ABCDEF");
    EXPECT_EQ(FormatNumber(1, 10, 6), "000001");
    EXPECT_EQ(FormatNumber(5, 2, 0), "101");
    EXPECT_EQ(FormatNumber(0xFFFFFFFF, 16, 0), "FFFFFFFF");
}

TEST(FormatNumber, ZeroDependsOnTheMinimum) {
    EXPECT_EQ(FormatNumber(0, 16, 255), "0");
    EXPECT_EQ(FormatNumber(0, 16, 4), "0000");
    EXPECT_EQ(FormatNumber(0, 16, 0), "");
    EXPECT_EQ(FormatNumber(0x7, 16, 255), "7");
}

TEST(FormatNumber, RefusesOtherRadixesAndSmallBuffersWithoutWritingPastThem) {
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_FALSE(FormatNumber(10, buffer, 6, 8, 0));
    EXPECT_EQ(std::string(buffer, 6), std::string(6, '\0'));
    EXPECT_EQ(buffer[6], 'x');

    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_FALSE(FormatNumber(0x12345, buffer, 4, 16, 0));  // five digits, four places
    EXPECT_EQ(buffer[4], 'x');

    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_FALSE(FormatNumber(1, buffer, 4, 16, 6));  // padding that does not fit
    EXPECT_EQ(buffer[4], 'x');

    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_TRUE(FormatNumber(0x1A, buffer, 5, 16, 4));
    EXPECT_STREQ(buffer, "001A");
    EXPECT_EQ(buffer[5], 'x');
}

TEST(FitDigits, PadsOnTheLeftAndKeepsTheLastCharacters) {
    std::string out;
    EXPECT_TRUE(FitDigits("12", out, 4));
    EXPECT_EQ(out, "0012");
    EXPECT_TRUE(FitDigits("12345", out, 4));
    EXPECT_EQ(out, "2345");
    EXPECT_TRUE(FitDigits("", out, 2));
    EXPECT_EQ(out, "00");
    EXPECT_TRUE(FitDigits("ABC", out, 2));
    EXPECT_EQ(out, "BC");
    EXPECT_TRUE(FitDigits("1234567", out, 6));
    EXPECT_EQ(out, "234567");
}

TEST(FitDigits, RefusesTextsLongerThanFortyCharacters) {
    std::string out = "old";
    EXPECT_TRUE(FitDigits(std::string(40, '1'), out, 4));
    EXPECT_EQ(out, "1111");
    EXPECT_FALSE(FitDigits(std::string(41, '1'), out, 4));
    EXPECT_EQ(out, "");
}

}  // namespace
}  // namespace koru

#include "image/hex_record.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

#include "image/numbers.h"
#include "image/text_line_reader.h"
#include "platform/input_file.h"
#include "tests/unit/image/temp_dir.h"

namespace koru {
namespace {

TEST(HexPairsToBytes, ReadsEveryPairAsParseNumberDoes) {
    for (unsigned high = 0; high < 256; ++high) {
        for (unsigned low = 0; low < 256; ++low) {
            const char text[2] = {static_cast<char>(high), static_cast<char>(low)};
            std::array<std::uint8_t, 1> out{};
            ASSERT_EQ(HexPairsToBytes(std::string_view(text, 2), out), 1u);
            const auto expected =
                static_cast<std::uint8_t>(ParseNumber(std::string_view(text, 2), 16));
            ASSERT_EQ(out[0], expected) << high << " " << low;
        }
    }
}

TEST(HexPairsToBytes, LastSingleCharacterAndFullBuffer) {
    std::array<std::uint8_t, 4> out{};
    EXPECT_EQ(HexPairsToBytes("a1B\n", out), 2u);
    EXPECT_EQ(out[0], 0xA1);
    EXPECT_EQ(out[1], 0xFF);  // a pair holding the line end
    EXPECT_EQ(HexPairsToBytes("0102C", out), 3u);
    EXPECT_EQ(out[2], 0x0C);  // a last single digit is a pair by itself
    EXPECT_EQ(HexPairsToBytes("0102030405", out), 4u);
}

TEST(CutToLastColon, KeepsTheTextFromTheLastColon) {
    std::string_view line = "a:b: :00\r\n";
    EXPECT_TRUE(CutToLastColon(line));
    EXPECT_EQ(line, ":00\r\n");
    std::string_view none = "0000\n";
    EXPECT_FALSE(CutToLastColon(none));
    EXPECT_EQ(none, "0000\n");
}

TEST(RecordLengthOk, CountsTheLineEnd) {
    EXPECT_TRUE(RecordLengthOk(":0000000000"));
    EXPECT_FALSE(RecordLengthOk(":000000000"));
    EXPECT_TRUE(RecordLengthOk(":0100000000\n\n"));  // 13 = 2 * 1 + 11, line ends included
    EXPECT_FALSE(RecordLengthOk(":0100000000\n"));
    EXPECT_FALSE(RecordLengthOk(":\t0000000000"));  // a count that is no byte reads as 0xFF
}

TEST(ParseRecordLine, SortsLinesIntoRecordsSkipsAndChecksumErrors) {
    std::array<std::uint8_t, kRecordBufferBytes> buffer{};
    HexRecord record;
    EXPECT_EQ(ParseRecordLine(":0400100001020304E2\n", buffer, record), RecordStatus::Ok);
    EXPECT_EQ(record.type, 0);
    EXPECT_EQ(record.offset, 0x10);
    ASSERT_EQ(record.data.size(), 4u);
    EXPECT_EQ(record.data[3], 4);

    EXPECT_EQ(ParseRecordLine(":020000021000EC", buffer, record), RecordStatus::Ok);
    EXPECT_EQ(record.type, kRecordSegment);
    EXPECT_EQ(record.segmentValue, 0x1000);

    EXPECT_EQ(ParseRecordLine(":0400100001020304E3\n", buffer, record), RecordStatus::BadChecksum);
    EXPECT_EQ(ParseRecordLine(":0400100001020304E2 \n", buffer, record), RecordStatus::Skipped);
    EXPECT_EQ(ParseRecordLine("", buffer, record), RecordStatus::Skipped);
    EXPECT_EQ(ParseRecordLine(":04001000010203\n", buffer, record), RecordStatus::Truncated);
    EXPECT_EQ(ParseRecordLine(":\n", buffer, record), RecordStatus::Truncated);
    // Cut records only count as such where a record opens the line.
    EXPECT_EQ(ParseRecordLine("1:04001000010203\n", buffer, record), RecordStatus::Skipped);
    // A line end inside the record's pairs reads as 0xFF and spoils its sum.
    EXPECT_EQ(ParseRecordLine(":01000000AA\r\n", buffer, record), RecordStatus::BadChecksum);
    // A later ':' on a line that opens a record starts the record that counts.
    EXPECT_EQ(ParseRecordLine(":04:0400100001020304E2\n", buffer, record), RecordStatus::Ok);
    EXPECT_EQ(record.offset, 0x10);
    EXPECT_EQ(ParseRecordLine(":0400100001:0400\n", buffer, record), RecordStatus::Truncated);
    // An empty segment record takes its value from the checksum and the line end, not from
    // what an earlier line left in the buffer.
    EXPECT_EQ(ParseRecordLine(":00000002FE\n", buffer, record), RecordStatus::Ok);
    EXPECT_EQ(record.segmentValue, 0xFEFF);
}

TEST(AppendRecord, WritesUpperCaseLinesWithChecksumAndCrLf) {
    std::string out;
    const std::uint8_t data[] = {0xab, 0x01};
    AppendDataRecord(out, 0xBEEF, data);
    AppendSegmentRecord(out, 0xF000);
    EXPECT_EQ(out, ":02BEEF00AB01A5\r\n:02000002F0000C\r\n");
}

std::vector<std::string> AllLines(TextLineReader& reader) {
    std::vector<std::string> lines;
    std::string_view line;
    while (reader.NextLine(line)) {
        lines.emplace_back(line);
    }
    return lines;
}

TEST(TextLineReader, CrLfAndLfEndLinesAndLongLinesAreCut) {
    TextLineReader reader(std::string_view("a\r\nb\nc\rd\r\r\n\ne"));
    EXPECT_EQ(AllLines(reader), (std::vector<std::string>{"a\n", "b\n", "c\rd\r\n", "\n", "e"}));
    EXPECT_FALSE(reader.Failed());

    const std::string text = std::string(1022, 'x') + "\r\n" + std::string(1023, 'y') + "\r\n";
    TextLineReader longLines(text);
    const std::vector<std::string> lines = AllLines(longLines);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].size(), 1023u);  // CR LF counts as one character
    EXPECT_EQ(lines[1], std::string(1023, 'y'));
    EXPECT_EQ(lines[2], "\n");

    const std::string lfOnly = std::string(1023, 'z') + "\n" + std::string(1022, 'z') + "\n";
    TextLineReader lfLines(lfOnly);
    EXPECT_EQ(AllLines(lfLines), (std::vector<std::string>{std::string(1023, 'z'), "\n",
                                                           std::string(1022, 'z') + "\n"}));
}

TEST(TextLineReader, CrLfAcrossAReadChunkFromAFile) {
    test::TempDir dir;
    std::string text;
    for (int i = 0; i < 65; ++i) {
        text += std::string(999, 'z') + "\n";
    }
    text += std::string(535, 'w') + "\r\n" + "end";  // the CR is the last byte of 64 KiB
    ASSERT_EQ(text[65535], '\r');
    InputFile file;
    ASSERT_TRUE(file.Open(dir.Write("long.txt", text)));
    TextLineReader reader(file);
    const std::vector<std::string> lines = AllLines(reader);
    ASSERT_EQ(lines.size(), 67u);
    EXPECT_EQ(lines[65], std::string(535, 'w') + "\n");
    EXPECT_EQ(lines[66], "end");
    EXPECT_FALSE(reader.Failed());
}

}  // namespace
}  // namespace koru

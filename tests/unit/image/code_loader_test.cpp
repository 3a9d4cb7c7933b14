#include "image/code_loader.h"
#include "image/code_file_identity.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "core/shared_state.h"
#include "image/numbers.h"
#include "image/program_memory.h"
#include "image/text_line_reader.h"
#include "platform/sha256.h"
#include "tests/support/process_state.h"
#include "tests/unit/image/temp_dir.h"

namespace koru {
namespace {

using test::ProcessStateTest;
using test::TempDir;

constexpr char kLoaded[] = "调入代码成功!";
constexpr char kBadChecksum[] = "代码文件错误[行检查和错误]";
constexpr char kNoCode[] = "代码文件错误[未包含有效代码]";
constexpr char kOutOfRange[] = "代码文件错误[地址超出范围]";
constexpr char kTruncated[] = "代码文件错误[记录不完整]";
constexpr char kTextOpenFailed[] = "打开代码文件失败!请确认该文件是否存在或对该文件是否有存取权限!";

// One record line without its line end, checksum computed here.
std::string Record(std::uint8_t type, std::uint16_t offset, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> bytes = {static_cast<std::uint8_t>(data.size()),
                                       static_cast<std::uint8_t>(offset >> 8),
                                       static_cast<std::uint8_t>(offset), type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    std::string line = ":";
    for (const std::uint8_t b : bytes) {
        sum += b;
        line += Hex(b, 2);
    }
    return line + Hex((0x100 - sum % 0x100) % 0x100, 2);
}

std::string Data(std::uint16_t offset, const std::vector<std::uint8_t>& data) {
    return Record(0x00, offset, data);
}

std::string Segment(std::uint16_t value) {
    return Record(0x02, 0,
                  {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)});
}

std::string Linear(std::uint16_t value) {
    return Record(0x04, 0,
                  {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)});
}

std::vector<std::uint8_t> Bytes(std::size_t count, std::uint8_t first) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>(first + i);
    }
    return bytes;
}

class CodeLoaderTest : public ProcessStateTest {
  protected:
    // Writes the file, names it in the name field and runs the load.
    void Load(const std::string& name, const std::string& contents) {
        window_.SetField(TextField::CodeFileName, dir_.Write(name, contents));
        LoadCodeFile();
    }

    void ExpectLoaded(std::uint32_t end) {
        EXPECT_EQ(FailureFlag, 0);
        EXPECT_EQ(window_.StatusLine(), kLoaded);
        EXPECT_EQ(StartAddress, 0u);
        EXPECT_EQ(EndAddress, end);
        EXPECT_EQ(CodeLoadedFlag, 1);
        EXPECT_EQ(window_.Field(TextField::StartAddress), "0000");
        EXPECT_EQ(window_.Field(TextField::EndAddress), Hex(end, 4));
        EXPECT_EQ(window_.Field(TextField::Checksum), Hex(SumImageRange(0, end), 4));
        EXPECT_EQ(GetChecksumRange(), (AddressRange{0, end}));
    }

    TempDir dir_;
};

TEST_F(CodeLoaderTest, RangeStartsAtZeroWhateverTheLowestRecord) {
    std::string text;
    for (std::uint16_t a = 0x100; a < 0x200; a += 16) {
        text += Data(a, Bytes(16, static_cast<std::uint8_t>(a))) + "\r\n";
    }
    Load("code.hex", text);
    ExpectLoaded(0x1FF);
    EXPECT_EQ(ProgramMemory[0x00], 0xFF);
    EXPECT_EQ(ProgramMemory[0xFF], 0xFF);
    EXPECT_EQ(ProgramMemory[0x100], 0x00);
    EXPECT_EQ(ProgramMemory[0x1FF], 0xFF);  // 0xF0 + 15
    EXPECT_EQ(ProgramMemory[0x1FE], 0xFE);
    EXPECT_EQ(window_.StatusHistory().front(), "调入代码文件.....");
}

TEST_F(CodeLoaderTest, DescendingRecordsDoNotRaiseTheEnd) {
    // The first record sets the end to 0x30; the later one starts below it and reaches 0x40,
    // yet the end stays where the first put it. Its data is still loaded.
    Load("down.hex", Data(0x20, Bytes(16, 0x20)) + "\r\n" + Data(0x00, Bytes(0x40, 0x80)) + "\r\n");
    ExpectLoaded(0x2F);
    EXPECT_EQ(ProgramMemory[0x3F], 0xBF);
    EXPECT_EQ(ProgramMemory[0x20], 0xA0);  // overwritten by the later record
}

TEST_F(CodeLoaderTest, ZeroLengthRecordAtOrAboveTheEndMovesIt) {
    Load("zero.hex", Data(0, Bytes(16, 1)) + "\n" + Data(0x100, {}) + "\n" + Data(0x80, {}) + "\n");
    ExpectLoaded(0xFF);
}

TEST_F(CodeLoaderTest, RecordsAfterTheEndOfFileRecordAndUnknownTypesAreHandled) {
    const std::string text = Data(0, {1, 2}) + "\r\n" + Record(0x01, 0, {}) + "\r\n" +
                             Record(0x05, 0, {0x00, 0x01, 0, 0}) + "\r\n" +
                             Record(0x20, 0x10, {3, 4}) + "\r\n" + Data(0x20, {5}) + "\r\n";
    Load("eof.hex", text);
    ExpectLoaded(0x20);
    EXPECT_EQ(ProgramMemory[0x10], 3);  // type 0x20 reads as data
    EXPECT_EQ(ProgramMemory[0x20], 5);  // after the end-of-file record; type 0x05 had no effect
}

TEST_F(CodeLoaderTest, SegmentRecordPlacesDataAboveSixtyFourKilobytes) {
    Load("seg.hex", Segment(0x1000) + "\r\n" + Data(0, Bytes(16, 0x40)) + "\r\n");
    ExpectLoaded(0x1000F);
    EXPECT_EQ(window_.Field(TextField::EndAddress), "1000F");
    EXPECT_EQ(ProgramMemory[0x10000], 0x40);
    EXPECT_EQ(ProgramMemory[0x0000], 0xFF);
}

// Linear address records set the upper 16 bits; segment and linear records replace each
// other's base.
TEST_F(CodeLoaderTest, LinearAndSegmentRecordsSetTheBase) {
    struct Case {
        std::string text;
        std::uint32_t at;  // where the one data byte 0x5A lands (the loaded end)
    };
    const Case cases[] = {
        {Linear(0x0001) + "\n" + Data(0x0020, {0x5A}) + "\n", 0x10020},
        {Linear(0x000F) + "\n" + Data(0xFFFF, {0x5A}) + "\n", 0xFFFFF},
        {Segment(0x1000) + "\n" + Linear(0x0002) + "\n" + Data(0x0010, {0x5A}) + "\n", 0x20010},
        {Linear(0x0002) + "\n" + Segment(0x0001) + "\n" + Data(0x0010, {0x5A}) + "\n", 0x00020},
        {Linear(0x0003) + "\n" + Linear(0x0000) + "\n" + Data(0x0030, {0x5A}) + "\n", 0x00030},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ProgramMemory.fill(kBlankByte);
        Load("linear.hex", c.text);
        ExpectLoaded(c.at);
        EXPECT_EQ(ProgramMemory[c.at], 0x5A);
        EXPECT_EQ(ProgramMemory[c.at & 0xFFFF], c.at > 0xFFFF ? 0xFF : 0x5A);
    }
}

TEST_F(CodeLoaderTest, OffsetsDoNotWrapWithinARecord) {
    Load("span.hex", Data(0xFFF8, Bytes(16, 0)) + "\n");
    ExpectLoaded(0x10007);
    EXPECT_EQ(ProgramMemory[0x10007], 15);
}

TEST_F(CodeLoaderTest, LineRulesDecideWhatIsARecord) {
    std::string text;
    text += "; a comment without the mark\r\n";
    text += "\r\n";
    text += "garbage: more " + Data(0x00, {0x11}) + "\r\n";  // read from the last ':'
    text += Data(0x01, {0x22}) + " \r\n";                    // trailing blank: skipped
    text += Data(0x02, {0x33}) + "\r\n";
    text += ":01000300ab51\r\n";  // lower-case digits
    text += ":010004x0CC2F\r\n";  // a character outside the set: skipped
    text += "12:0100\r\n";        // too short, but no record opens the line: skipped
    Load("rules.hex", text);
    ExpectLoaded(3);
    EXPECT_EQ(ProgramMemory[0], 0x11);
    EXPECT_EQ(ProgramMemory[1], 0xFF);
    EXPECT_EQ(ProgramMemory[2], 0x33);
    EXPECT_EQ(ProgramMemory[3], 0xAB);
    EXPECT_EQ(ProgramMemory[4], 0xFF);
}

TEST_F(CodeLoaderTest, LongLinesAreCutAfter1023Characters) {
    const std::string record = Data(0x10, {1, 2, 3, 4});  // 19 characters
    // The record ends exactly at character 1023, so the cut leaves it whole and the junk after
    // it becomes a line of its own; read as one line the junk would disqualify the record.
    Load("cut.hex", std::string(1023 - record.size(), 'x') + record + "junk\r\n");
    ExpectLoaded(0x13);
    EXPECT_EQ(ProgramMemory[0x13], 4);

    // One character later the cut splits the record: a cut record, refused.
    Load("split.hex", std::string(1024 - record.size(), 'x') + record + "\r\n");
    EXPECT_EQ(FailureFlag, 1);
    EXPECT_EQ(window_.StatusLine(), kTruncated);
}

TEST_F(CodeLoaderTest, LfOnlyAndMissingFinalLineEndRead) {
    Load("lf.hex", Data(0, {9}) + "\n" + Data(1, {8}));
    ExpectLoaded(1);
    EXPECT_EQ(ProgramMemory[1], 8);
}

TEST_F(CodeLoaderTest, NameDecidesBetweenBinaryAndText) {
    const std::string hexText = Data(0, {0xAA}) + "\r\n";  // 15 bytes
    Load("code.BIN", hexText);                             // binary: the text's own bytes
    ExpectLoaded(static_cast<std::uint32_t>(hexText.size() - 1));
    EXPECT_EQ(ProgramMemory[0], ':');

    Load("code.bin.hex", hexText);  // text
    ExpectLoaded(0);
    EXPECT_EQ(ProgramMemory[0], 0xAA);

    EXPECT_TRUE(IsBinaryCodeFileName("x.Bin"));
    EXPECT_TRUE(IsBinaryCodeFileName(".bin"));
    EXPECT_FALSE(IsBinaryCodeFileName("bin"));
    EXPECT_FALSE(IsBinaryCodeFileName("x.bin "));
}

// What a production record says of the file: its identity as loaded, and whether the image
// still holds it; a failed load leaves the last good identity.
TEST_F(CodeLoaderTest, TheLoadedFileIsKnownByPathSizeAndDigest) {
    Load("abc.bin", "abc");
    const std::optional<CodeFileIdentity> loaded = LoadedCodeFile();
    ASSERT_TRUE(loaded.has_value());
    EXPECT_EQ(loaded->path, dir_.Path("abc.bin"));
    EXPECT_EQ(loaded->size, 3u);
    EXPECT_EQ(loaded->sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const struct {
        std::uint32_t address;
        bool stillHolds;
    } edits[] = {{3, true}, {0x1000, true}, {2, false}};  // outside, outside, inside the range
    for (const auto& edit : edits) {
        ProgramMemory[edit.address] ^= 0x01;
        EXPECT_EQ(ImageStillHolds(*loaded), edit.stillHolds) << edit.address;
    }
    Load("cut.hex", ":02000000");  // refused: the identity stays the last good load's
    EXPECT_NE(FailureFlag, 0);
    EXPECT_EQ(LoadedCodeFile()->path, dir_.Path("abc.bin"));

    // A text file's digest is made from the reads the loader does, several of them here.
    std::string text;
    for (std::uint32_t a = 0; a < 0x8000; a += 16) {
        text += Data(static_cast<std::uint16_t>(a), Bytes(16, static_cast<std::uint8_t>(a))) + "\n";
    }
    Load("big.hex", text);
    ASSERT_EQ(FailureFlag, 0);
    EXPECT_EQ(LoadedCodeFile()->size, text.size());
    EXPECT_EQ(LoadedCodeFile()->sha256, Sha256OfFile(dir_.Path("big.hex")));
}

TEST_F(CodeLoaderTest, BinaryFileOfExactlyOneMebibyteFillsTheImage) {
    std::vector<std::uint8_t> bytes(kImageSize);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7 + (i >> 12));
    }
    window_.SetField(TextField::CodeFileName, dir_.Write("full.bin", bytes));
    LoadCodeFile();
    ExpectLoaded(0xFFFFF);
    EXPECT_EQ(window_.Field(TextField::EndAddress), "FFFFF");
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), ProgramMemory.begin()));
}

// The image state that a failed load must leave exactly as it was.
struct Snapshot {
    std::vector<std::uint8_t> image;
    std::uint32_t start, end;
    std::string startField, endField, checksumField;
    AddressRange checksumRange;
    int codeLoaded;

    static Snapshot Take(test::RecordingWindowServices& window) {
        return {std::vector<std::uint8_t>(ProgramMemory.begin(), ProgramMemory.end()),
                StartAddress,
                EndAddress,
                window.Field(TextField::StartAddress),
                window.Field(TextField::EndAddress),
                window.Field(TextField::Checksum),
                GetChecksumRange(),
                CodeLoadedFlag};
    }
    bool operator==(const Snapshot&) const = default;
};

class FailedLoadTest : public CodeLoaderTest {
  protected:
    void SetUp() override {
        Load("good.hex", Data(0x40, Bytes(16, 0x10)) + "\r\n");
        ASSERT_EQ(FailureFlag, 0);
        before_ = Snapshot::Take(window_);
    }

    void ExpectRefused(const char* text) {
        EXPECT_EQ(FailureFlag, 1);
        EXPECT_EQ(window_.StatusLine(), text);
        EXPECT_EQ(window_.StatusFailureFlags().back(), 1);  // shown in the failure colour
        EXPECT_TRUE(Snapshot::Take(window_) == before_);
    }

    Snapshot before_;
};

TEST_F(FailedLoadTest, RecordChecksumErrorStopsAndKeepsTheImage) {
    std::string bad = Data(0x10, {1, 2, 3});
    bad.back() = bad.back() == '0' ? '1' : '0';
    Load("bad.hex", Data(0, Bytes(16, 0x70)) + "\r\n" + bad + "\r\n" + Data(0x20, {1}) + "\r\n");
    ExpectRefused(kBadChecksum);
}

TEST_F(FailedLoadTest, DataAtOrAboveTheImageEndRefusesTheLoad) {
    Load("high.hex", Data(0, {1}) + "\n" + Segment(0xF000) + "\n" + Data(0xFFF8, Bytes(16, 0)));
    ExpectRefused(kOutOfRange);
    Load("top.hex", Segment(0xFFFF) + "\n" + Data(0x0010, {1}) + "\n");  // 0xFFFF0 + 0x10
    ExpectRefused(kOutOfRange);
    Load("empty-high.hex", Segment(0xFFFF) + "\n" + Data(0x0011, {}) + "\n");  // end past the top
    ExpectRefused(kOutOfRange);
    ASSERT_EQ(ImageOverwrittenFlag, 0);

    // A record that ends exactly at the top still fits.
    Load("fits.hex", Segment(0xFFFF) + "\n" + Data(0x0000, Bytes(16, 0xA0)) + "\n");
    ExpectLoaded(0xFFFFF);
    EXPECT_EQ(ProgramMemory[0xFFFFF], 0xAF);
}

TEST_F(FailedLoadTest, LinearAddressAtOrAboveTheImageEndRefusesTheLoad) {
    for (const std::uint16_t upper : {0x0010, 0x8000, 0xFFFF}) {
        Load("linear-high.hex", Data(0, {1}) + "\n" + Linear(upper) + "\n" + Data(0xFFFF, {2}));
        ExpectRefused(kOutOfRange);
    }
    Load("linear-edge.hex", Linear(0x000F) + "\n" + Data(0xFFF8, Bytes(9, 0)) + "\n");
    ExpectRefused(kOutOfRange);
}

// A record cut short is lost data: the whole load is refused, wherever the cut falls.
TEST_F(FailedLoadTest, CutRecordRefusesTheLoad) {
    const std::string whole = Data(0x10, Bytes(16, 0x30));
    for (const std::size_t keep :
         {std::size_t{1}, std::size_t{5}, std::size_t{11}, whole.size() - 3, whole.size() - 1}) {
        SCOPED_TRACE(keep);
        Load("cut.hex", Data(0, Bytes(16, 0x70)) + "\r\n" + whole.substr(0, keep));
        ExpectRefused(kTruncated);
        // A line end counts toward the length, so a cut in the last checksum digits of a line
        // that still ends is refused by the record checksum instead.
        if (keep + 2 < whole.size()) {
            Load("cut-middle.hex",
                 whole.substr(0, keep) + "\r\n" + Data(0, Bytes(16, 0x70)) + "\r\n");
            ExpectRefused(kTruncated);
        }
        // A junk line longer than the reader's cut, its record split by that cut.
        Load("cut-by-reader.hex", std::string(kMaxLineChars - keep, 'x') + whole + "\r\n" +
                                      Data(0, Bytes(16, 0x70)) + "\r\n");
        ExpectRefused(kTruncated);
    }
}

TEST_F(FailedLoadTest, FileWithoutCodeIsRefused) {
    Load("nothing.hex", Record(0x01, 0, {}) + "\r\n" + "not a record\r\n");
    ExpectRefused(kNoCode);
    Load("empty.bin", "");
    ExpectRefused(kNoCode);
}

TEST_F(FailedLoadTest, BinaryFileLargerThanTheImageIsRefused) {
    Load("big.bin", std::string(kImageSize + 1, '\x5A'));
    ExpectRefused(kOutOfRange);
}

TEST_F(FailedLoadTest, FilesThatCannotBeOpened) {
    ImageOverwrittenFlag = 1;
    before_ = Snapshot::Take(window_);
    window_.SetField(TextField::CodeFileName, dir_.Path("missing.bin"));
    LoadCodeFile();
    ExpectRefused("打开文件失败");
    EXPECT_EQ(ImageOverwrittenFlag, 1);  // the binary path leaves it alone

    window_.SetField(TextField::CodeFileName, dir_.Path("missing.hex"));
    LoadCodeFile();
    ExpectRefused(kTextOpenFailed);
    EXPECT_EQ(ImageOverwrittenFlag, 0);  // cleared before the text file is opened

    window_.SetField(TextField::CodeFileName, dir_.Path(""));  // the directory itself
    LoadCodeFile();
    ExpectRefused(kTextOpenFailed);

    // Devices and FIFOs are not code files: refused at once instead of read without end.
    for (const char* name : {"zero.hex", "zero.bin"}) {
        std::filesystem::create_symlink("/dev/zero", dir_.Path(name));
        window_.SetField(TextField::CodeFileName, dir_.Path(name));
        LoadCodeFile();
        ExpectRefused(name == std::string("zero.hex") ? kTextOpenFailed : "打开文件失败");
    }
    ASSERT_EQ(::mkfifo(dir_.Path("pipe.hex").c_str(), 0600), 0);
    window_.SetField(TextField::CodeFileName, dir_.Path("pipe.hex"));
    LoadCodeFile();
    ExpectRefused(kTextOpenFailed);

    window_.SetField(TextField::CodeFileName, "");
    LoadCodeFile();
    ExpectRefused("请指定一个代码文件");
}

TEST_F(CodeLoaderTest, ChooseCodeFileFillsTheNameFieldOnlyWhenAFileIsChosen) {
    window_.SetField(TextField::CodeFileName, "old.hex");
    EXPECT_FALSE(ChooseCodeFile());
    EXPECT_EQ(window_.Field(TextField::CodeFileName), "old.hex");

    window_.QueueFileDialogAnswer("/data/new code.obj");
    EXPECT_TRUE(ChooseCodeFile());
    EXPECT_EQ(window_.Field(TextField::CodeFileName), "/data/new code.obj");

    const auto dialogs = window_.FileDialogs();
    ASSERT_EQ(dialogs.size(), 2u);
    EXPECT_EQ(dialogs[0].kind, FileDialogKind::Open);
    EXPECT_EQ(dialogs[0].filter, "hex文件(*.hex)|*.hex|OBJ文件(*.*)|*.obj|BIN文件(*.*)|*.bin||");
}

}  // namespace
}  // namespace koru

namespace koru {
namespace {

TEST_F(CodeLoaderTest, FixtureWithOddRecordsLoads) {
    window_.SetField(TextField::CodeFileName, std::string(KORU_TEST_DATA_DIR) + "/odd_records.hex");
    LoadCodeFile();
    ExpectLoaded(0x10008);
    EXPECT_EQ(window_.Field(TextField::EndAddress), "10008");
    for (std::uint32_t a = 0; a < 0x20; ++a) {
        EXPECT_EQ(ProgramMemory[a], a);
    }
    EXPECT_EQ(ProgramMemory[0x10000], 0xDE);
    EXPECT_EQ(ProgramMemory[0x10003], 0xEF);
    EXPECT_EQ(ProgramMemory[0x10008], 0x55);  // type 0x20 after a TAB
    EXPECT_EQ(ProgramMemory[0x10010], 0xFF);  // the record with a trailing blank was skipped
    EXPECT_EQ(ProgramMemory[0x00020], 0xFF);
}

}  // namespace
}  // namespace koru

// The writer and the loader against each other, and GNU objcopy as an outside judge of both.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/shared_state.h"
#include "image/code_loader.h"
#include "image/hex_writer.h"
#include "image/program_memory.h"
#include "tests/support/process_state.h"
#include "tests/unit/image/temp_dir.h"

namespace koru {
namespace {

using test::ReadWholeFile;
using test::TempDir;

struct Range {
    std::uint32_t start;
    std::uint32_t end;
};

// Ranges with odd ends, one crossing into a new 64 KiB region, the whole image and its last byte.
const Range kRanges[] = {{0, 0},         {0x5, 0x14},       {0xFFF8, 0x10007}, {0x12345, 0x2ABCD},
                         {0x0, 0xFFFFF}, {0xFFFFF, 0xFFFFF}};

// Deterministic bytes with plenty of 0xFF among them, so blank cells are exercised too.
std::vector<std::uint8_t> Pattern(std::size_t size, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::uint8_t& b : bytes) {
        seed = seed * 1664525u + 1013904223u;
        b = (seed >> 28) == 0 ? 0xFF : static_cast<std::uint8_t>(seed >> 20);
    }
    return bytes;
}

// The objcopy on PATH, or nothing when there is none.
std::optional<std::string> FindObjcopy() {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const std::filesystem::path candidate = std::filesystem::path(dir) / "objcopy";
        if (!dir.empty() && ::access(candidate.c_str(), X_OK) == 0) {
            return candidate.string();
        }
    }
    return std::nullopt;
}

class HexRoundTripTest : public test::ProcessStateTest {
  protected:
    void SetUp() override {
        original_ = Pattern(kImageSize, 12345);
        std::copy(original_.begin(), original_.end(), ProgramMemory.begin());
    }

    void SaveRange(Range range, const std::string& path) {
        StartAddress = range.start;
        EndAddress = range.end;
        window_.QueueFileDialogAnswer(path);
        SaveImageAsHex();
        ASSERT_EQ(FailureFlag, 0) << window_.StatusLine();
    }

    void LoadFile(const std::string& path) {
        window_.SetField(TextField::CodeFileName, path);
        LoadCodeFile();
        ASSERT_EQ(FailureFlag, 0) << window_.StatusLine();
    }

    TempDir dir_;
    std::vector<std::uint8_t> original_;
};

TEST_F(HexRoundTripTest, SavedRangeLoadsBackToTheSameBytes) {
    for (const Range range : kRanges) {
        SCOPED_TRACE(range.start);
        const std::string path = dir_.Path("trip.hex");
        std::copy(original_.begin(), original_.end(), ProgramMemory.begin());
        SaveRange(range, path);
        BlankProgramMemory();
        LoadFile(path);
        EXPECT_EQ(StartAddress, 0u);
        EXPECT_EQ(EndAddress, range.end);
        EXPECT_TRUE(std::equal(ProgramMemory.begin() + range.start,
                               ProgramMemory.begin() + range.end + 1,
                               original_.begin() + range.start));
        EXPECT_TRUE(std::all_of(ProgramMemory.begin(), ProgramMemory.begin() + range.start,
                                [](std::uint8_t b) { return b == kBlankByte; }));
    }
}

class ObjcopyJudgeTest : public HexRoundTripTest {
  protected:
    void SetUp() override {
        HexRoundTripTest::SetUp();
        objcopy_ = FindObjcopy();
        if (!objcopy_) {
            GTEST_SKIP() << "objcopy (binutils) is not installed";
        }
    }

    void Objcopy(const std::string& arguments) {
        const std::string command = *objcopy_ + " " + arguments;
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }

    std::optional<std::string> objcopy_;
};

TEST_F(ObjcopyJudgeTest, ObjcopyReadsOurFilesAsTheImage) {
    for (const Range range : kRanges) {
        SCOPED_TRACE(range.start);
        const std::string hex = dir_.Path("ours.hex");
        const std::string bin = dir_.Path("theirs.bin");
        SaveRange(range, hex);
        Objcopy("-I ihex -O binary --gap-fill 0xff " + hex + " " + bin);
        const std::string converted = ReadWholeFile(bin);
        ASSERT_EQ(converted.size(), range.end - range.start + 1);
        EXPECT_TRUE(
            std::equal(converted.begin(), converted.end(), original_.begin() + range.start,
                       [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; }));
    }
}

TEST_F(ObjcopyJudgeTest, ObjcopyFilesLoadToTheSameImage) {
    const std::vector<std::uint8_t> data = Pattern(200000, 777);
    const std::string bin = dir_.Write("data.bin", data);
    for (const std::uint32_t base : {0u, 0x30005u}) {
        SCOPED_TRACE(base);
        const std::string hex = dir_.Path("theirs.hex");
        Objcopy("-I binary -O ihex --change-addresses " + std::to_string(base) + " " + bin + " " +
                hex);
        LoadFile(hex);
        EXPECT_EQ(EndAddress, base + data.size() - 1);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), ProgramMemory.begin() + base));
        EXPECT_TRUE(std::all_of(ProgramMemory.begin(), ProgramMemory.begin() + base,
                                [](std::uint8_t b) { return b == kBlankByte; }));
    }
}

}  // namespace
}  // namespace koru

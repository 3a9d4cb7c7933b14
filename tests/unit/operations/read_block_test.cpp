#include "operations/read_block.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "core/shared_state.h"
#include "image/program_memory.h"
#include "tests/support/process_state.h"

namespace koru {
namespace {

using ReadBlockTest = test::ProcessStateTest;

TEST_F(ReadBlockTest, ImageBlockIsCopiedWithoutTouchingTheFlagOrTheWindow) {
    for (std::uint32_t a = 0xFFF00; a < kImageSize; ++a) {
        ProgramMemory[a] = static_cast<std::uint8_t>(a);
    }
    std::array<std::uint8_t, 512> buffer;
    buffer.fill(0x5A);
    for (const int flag : {0, 1}) {
        FailureFlag = flag;
        ReadBlock(kReadImageBlock, buffer.data(), buffer.size(), 0xFFF00, 0xFFFFF);
        EXPECT_EQ(FailureFlag, flag);
    }
    for (std::size_t i = 0; i < 256; ++i) {
        ASSERT_EQ(buffer[i], static_cast<std::uint8_t>(i)) << i;
    }
    EXPECT_EQ(buffer[256], 0x5A);  // nothing beyond the block
    EXPECT_TRUE(window_.StatusHistory().empty());
    EXPECT_TRUE(window_.MessageBoxes().empty());
}

TEST_F(ReadBlockTest, TooSmallBufferWarnsAndFails) {
    std::array<std::uint8_t, 16> buffer;
    buffer.fill(0x5A);
    ReadBlock(kReadImageBlock, buffer.data(), buffer.size(), 0x100, 0x110);  // 17 bytes
    EXPECT_EQ(FailureFlag, 1);
    const auto boxes = window_.MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "");
    EXPECT_EQ(boxes[0].text, "指定的缓冲区不足以容纳要读取的数据,操作将中止!");
    EXPECT_EQ(boxes[0].icon, MessageIcon::Warning);
    EXPECT_EQ(buffer[0], 0x5A);

    FailureFlag = 0;
    ReadBlock(kReadImageBlock, buffer.data(), buffer.size(), 0x110, 0x100);  // last before first
    EXPECT_EQ(FailureFlag, 1);
    EXPECT_EQ(window_.MessageBoxes().size(), 2u);
}

TEST_F(ReadBlockTest, ImageBlockBeyondTheImageFailsWithoutReading) {
    std::array<std::uint8_t, 512> buffer;
    buffer.fill(0x5A);
    ReadBlock(kReadImageBlock, buffer.data(), buffer.size(), 0xFFFF0, 0x10000F);
    EXPECT_EQ(FailureFlag, 1);
    EXPECT_EQ(window_.StatusLine(), "读取数据错误");
    EXPECT_EQ(buffer[0], 0x5A);
}

}  // namespace
}  // namespace koru

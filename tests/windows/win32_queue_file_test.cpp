// The record queue on Windows: a partial last line a crash left is cut off into .damaged and
// said once, a drain leaves it for the next append, and a rewrite goes through a new file (a
// leftover one from a rewrite that never finished changes nothing).

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/queue_file.h"

namespace koru {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void WriteAll(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

TEST(Win32QueueFile, APartialLineIsCutOffAndTheRewriteGoesThroughANewFile) {
    const fs::path folder = fs::temp_directory_path() / "koru-queue-test";
    fs::remove_all(folder);
    const std::string queue = (folder / "unsent.jsonl").string();
    fs::create_directories(folder);
    WriteAll(queue, "r1\nr2-part");

    std::string error, damaged;
    ASSERT_TRUE(AppendToQueue(queue, "r3\n", error, &damaged)) << error;
    EXPECT_NE(damaged.find("partial line (7 bytes"), std::string::npos) << damaged;
    EXPECT_EQ(ReadAll(queue), "r1\nr3\n");
    EXPECT_EQ(ReadAll(queue + ".damaged"), "r2-part\n");
    ASSERT_TRUE(AppendToQueue(queue, "r4\n", error, &damaged)) << error;
    EXPECT_TRUE(damaged.empty()) << damaged;  // said once

    // A drain keeps what send refuses and a partial line, and leaves no new file behind.
    std::ofstream(queue, std::ios::binary | std::ios::app) << "r5-part";
    WriteAll(queue + ".new", "stale\n");
    std::vector<std::string> offered;
    std::size_t sent = 0, left = 0;
    ASSERT_TRUE(DrainQueue(
        queue,
        [&offered](const std::string& line) {
            offered.push_back(line);
            return line != "r3";
        },
        sent, left, error))
        << error;
    EXPECT_EQ(offered, (std::vector<std::string>{"r1", "r3", "r4"}));
    EXPECT_EQ(sent, 2u);
    EXPECT_EQ(left, 1u);
    EXPECT_EQ(ReadAll(queue), "r3\nr5-part");
    EXPECT_FALSE(fs::exists(queue + ".new"));

    ASSERT_TRUE(AppendToQueue(queue, "r6\n", error, &damaged)) << error;
    EXPECT_EQ(ReadAll(queue), "r3\nr6\n");
    EXPECT_EQ(ReadAll(queue + ".damaged"), "r2-part\nr5-part\n");
    fs::remove_all(folder);
}

}  // namespace
}  // namespace koru

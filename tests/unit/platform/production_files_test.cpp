// The pieces a production record stands on: whole-record appends shared by several writers,
// local time with its UTC offset, and the code file's SHA-256.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <sstream>
#include <thread>

#include "platform/append_only_file.h"
#include "platform/host_clock.h"
#include "platform/sha256.h"
#include "tests/unit/image/temp_dir.h"

namespace koru {
namespace {

using test::ReadWholeFile;
using test::TempDir;

// Several writers, each with its own descriptor as separate processes have, append records of
// very different sizes at once: every line of the file is one whole record.
TEST(AppendOnlyFileTest, ConcurrentWritersLeaveOnlyWholeRecords) {
    TempDir dir;
    const std::string path = dir.Path("sub/folder/log.jsonl");  // folders are made on open
    constexpr int kWriters = 4;
    constexpr int kRecordsEach = 50;
    const std::size_t sizes[kWriters] = {1, 300, 4096, 60000};
    std::vector<std::thread> writers;
    std::atomic<int> failures{0};
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            AppendOnlyFile file;
            std::string error;
            if (!file.Open(path, error)) {
                ++failures;
                return;
            }
            const std::string record = std::string(sizes[w], static_cast<char>('a' + w)) + "\n";
            for (int i = 0; i < kRecordsEach; ++i) {
                if (!file.Append(record, error)) {
                    ++failures;
                }
            }
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    ASSERT_EQ(failures.load(), 0);
    std::istringstream lines(ReadWholeFile(path));
    std::string line;
    int counts[kWriters] = {};
    while (std::getline(lines, line)) {
        ASSERT_FALSE(line.empty());
        const int w = line[0] - 'a';
        ASSERT_TRUE(w >= 0 && w < kWriters);
        ASSERT_EQ(line, std::string(sizes[w], line[0]));
        ++counts[w];
    }
    for (const int count : counts) {
        EXPECT_EQ(count, kRecordsEach);
    }
}

TEST(AppendOnlyFileTest, AFileThatCannotBeWrittenSaysWhy) {
    TempDir dir;
    const std::string plainFile = dir.Write("plain", std::string("x"));
    for (const std::string& path : {dir.Path(""), plainFile + "/below.jsonl"}) {
        AppendOnlyFile file;
        std::string error;
        EXPECT_FALSE(file.Open(path, error)) << path;
        EXPECT_NE(error.find(path), std::string::npos) << error;
        EXPECT_FALSE(file.Append("record\n", error));
    }
}

// The offset's sign and minutes are easy to get wrong: west of UTC is negative.
TEST(HostClockTest, LocalTimeCarriesItsOffset) {
    const char* saved = std::getenv("TZ");
    const std::string savedZone = saved ? saved : "";
    const struct {
        const char* zone;
        const char* text;
    } cases[] = {
        {"UTC0", "2026-12-07T15:04:05.042+00:00"},
        {"IST-05:30", "2026-12-07T20:34:05.042+05:30"},
        {"BRT+03", "2026-12-07T12:04:05.042-03:00"},
        {"XXT+10", "2026-12-07T05:04:05.042-10:00"},
    };
    // 2026-12-07 15:04:05.042 UTC
    const auto when =
        std::chrono::system_clock::time_point(std::chrono::milliseconds(1796655845042));
    for (const auto& entry : cases) {
        setenv("TZ", entry.zone, 1);
        tzset();
        EXPECT_EQ(LocalTimeText(when), entry.text) << entry.zone;
        EXPECT_EQ(LocalDateText(when), std::string(entry.text).substr(0, 10)) << entry.zone;
    }
    if (saved) {
        setenv("TZ", savedZone.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
    EXPECT_FALSE(HostName().empty());
}

TEST(Sha256Test, KnownDigestsAndAMissingFile) {
    TempDir dir;
    const struct {
        std::string contents;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& entry : cases) {
        EXPECT_EQ(Sha256OfFile(dir.Write("file", entry.contents)), entry.digest)
            << entry.contents.size();
    }
    EXPECT_FALSE(Sha256OfFile(dir.Path("missing")).has_value());
}

}  // namespace
}  // namespace koru

// The line database's files on either system (this program also runs under Wine): the queue
// of unsent records shared by several writers, SQLite handing out values to several
// connections at once, and a command job where programs cannot be started. Where the files go
// by default is checked end to end by tests/windows/cli_line_test.sh.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "linedb/line_database.h"
#include "linedb/line_serial_source.h"
#include "platform/child_process.h"
#include "platform/queue_file.h"

namespace koru {
namespace {

namespace fs = std::filesystem;

class LineFilesTest : public ::testing::Test {
  protected:
    LineFilesTest() {
        std::random_device random;
        folder_ = fs::temp_directory_path() / ("koru-linefiles-" + std::to_string(random()));
        fs::create_directories(folder_);
    }
    ~LineFilesTest() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    std::string Read(const fs::path& path) {
        std::ifstream file(path, std::ios::binary);
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }

    fs::path folder_;
};

TEST_F(LineFilesTest, TheQueueKeepsWhatWasRefusedAndALineStillBeingWritten) {
    const std::string queue = (folder_ / "deep" / "unsent.jsonl").string();
    std::size_t sent = 9, left = 9;
    std::string error;
    ASSERT_TRUE(DrainQueue(
        queue, [](const std::string&) { return true; }, sent, left, error))
        << error;  // no file yet: an empty queue
    EXPECT_EQ(sent + left, 0u);

    ASSERT_TRUE(AppendToQueue(queue, "{\"id\":1}\n{\"id\":2}\n", error)) << error;  // folder made
    ASSERT_TRUE(AppendToQueue(queue, "{\"id\":3}\n", error)) << error;
    {
        std::ofstream partial(queue, std::ios::binary | std::ios::app);
        partial << "{\"id\":";  // a writer that has not finished its line
    }
    std::vector<std::string> offered;
    ASSERT_TRUE(DrainQueue(
        queue,
        [&](const std::string& line) {
            offered.push_back(line);
            return line != "{\"id\":2}";
        },
        sent, left, error))
        << error;
    EXPECT_EQ(offered, (std::vector<std::string>{"{\"id\":1}", "{\"id\":2}", "{\"id\":3}"}));
    EXPECT_EQ(sent, 2u);
    EXPECT_EQ(left, 1u);
    EXPECT_EQ(Read(queue), "{\"id\":2}\n{\"id\":");

    // Nothing taken: the file stays as it is.
    ASSERT_TRUE(DrainQueue(
        queue, [](const std::string&) { return false; }, sent, left, error));
    EXPECT_EQ(sent, 0u);
    EXPECT_EQ(Read(queue), "{\"id\":2}\n{\"id\":");

    // A folder in the way is a clear failure, not an empty queue.
    const std::string blocked = (folder_ / "blocked").string();
    fs::create_directories(blocked);
    EXPECT_FALSE(AppendToQueue(blocked, "x\n", error));
    EXPECT_NE(error.find(blocked), std::string::npos) << error;
}

// Writers append while a reader takes lines: every line is taken exactly once, whole.
TEST_F(LineFilesTest, WritersAndAReaderSharingTheQueueLoseNoLineAndTakeNoneTwice) {
    const std::string queue = (folder_ / "unsent.jsonl").string();
    constexpr int kWriters = 4;
    constexpr int kLines = 40;
    std::atomic<int> writing{kWriters};
    std::atomic<bool> failed{false};
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            for (int i = 0; i < kLines; ++i) {
                std::string error;
                const std::string line = "w" + std::to_string(w) + "-" + std::to_string(i) +
                                         std::string(200, 'x') + "\n";
                if (!AppendToQueue(queue, line, error)) {
                    failed = true;
                }
            }
            --writing;
        });
    }
    std::multiset<std::string> taken;
    const auto take = [&] {
        std::size_t sent = 0, left = 0;
        std::string error;
        const bool drained = DrainQueue(
            queue,
            [&](const std::string& line) {
                taken.insert(line);
                return true;
            },
            sent, left, error);
        EXPECT_TRUE(drained) << error;
    };
    while (writing > 0) {
        take();
        std::this_thread::yield();
    }
    for (auto& writer : writers) {
        writer.join();
    }
    take();
    EXPECT_FALSE(failed);
    ASSERT_EQ(taken.size(), static_cast<std::size_t>(kWriters * kLines));
    for (int w = 0; w < kWriters; ++w) {
        for (int i = 0; i < kLines; ++i) {
            const std::string line =
                "w" + std::to_string(w) + "-" + std::to_string(i) + std::string(200, 'x');
            EXPECT_EQ(taken.count(line), 1u) << line;
        }
    }
}

// Connections of their own, on threads, reserve and spend values of one counter job on one
// SQLite file at once: no value goes out twice, none is skipped.
TEST_F(LineFilesTest, ConnectionsReservingAtOnceOnSqliteNeverShareAValue) {
    const std::string name = (folder_ / "line.sqlite").string();
    std::string error;
    {
        auto database = LineDatabase::Open(name, error);
        ASSERT_TRUE(database) << error;
        SerialJob job;
        job.name = "SN";
        job.address = 0x100;
        job.size = 4;
        job.start = 500;
        ASSERT_TRUE(database->DefineJob(job, {}, error)) << error;
    }
    constexpr int kConnections = 4;
    constexpr int kValues = 20;
    std::vector<std::vector<std::string>> labels(kConnections);
    std::vector<std::string> errors(kConnections);
    std::vector<std::thread> threads;
    for (int c = 0; c < kConnections; ++c) {
        threads.emplace_back([&, c] {
            std::string& error = errors[c];
            auto database = LineDatabase::Open(name, error);
            const auto job = database ? database->Job("SN", error) : std::nullopt;
            for (int i = 0; job && i < kValues; ++i) {
                SerialReservation value;
                if (database->Reserve(*job, {"pc", "COM" + std::to_string(c + 1), 1}, value,
                                      error) != ReserveResult::Reserved ||
                    !database->Spend("SN", value.index, value.holderId, "success", error)) {
                    return;
                }
                labels[c].push_back(value.label);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::set<long long> values;
    for (int c = 0; c < kConnections; ++c) {
        EXPECT_EQ(labels[c].size(), static_cast<std::size_t>(kValues)) << errors[c];
        for (const std::string& label : labels[c]) {
            EXPECT_TRUE(values.insert(std::stoll(label)).second) << label << " went out twice";
        }
    }
    ASSERT_FALSE(values.empty());
    EXPECT_EQ(*values.begin(), 500);
    EXPECT_EQ(*values.rbegin(), 500 + kConnections * kValues - 1);
}

// Where this build cannot start a program, a command job's value is refused with that reason
// before anything is tried, and the value goes back for the next chip.
TEST_F(LineFilesTest, ACommandJobWhereProgramsCannotStartIsRefusedWithTheReason) {
    if (ChildProcessesUnavailable().empty()) {
        GTEST_SKIP() << "this build starts programs: the command job's own test covers it";
    }
    std::string error;
    auto database =
        std::shared_ptr<LineDatabase>(LineDatabase::Open((folder_ / "l.sqlite").string(), error));
    ASSERT_TRUE(database) << error;
    SerialJob job;
    job.name = "KEY";
    job.address = 0x10;
    job.size = 2;
    job.source = SerialSource::Command;
    job.command = "C:\\tools\\key.exe --next";
    ASSERT_TRUE(database->DefineJob(job, {}, error)) << error;
    LineSerialSource source(database, job, {"pc", "COM1", 1}, {"C:\\tools\\key.exe"}, nullptr);
    const ChipSerialGrant grant = source.Reserve();
    EXPECT_FALSE(grant.granted);
    EXPECT_NE(grant.refusal.find("a command job cannot run here"), std::string::npos)
        << grant.refusal;
    std::vector<SerialJobStatus> status;
    ASSERT_TRUE(database->Status(job.name, status, error)) << error;
    EXPECT_TRUE(status[0].reserved.empty());
    EXPECT_EQ(status[0].spent, 0);
}

}  // namespace
}  // namespace koru

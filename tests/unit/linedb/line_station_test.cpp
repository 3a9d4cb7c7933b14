// The line station, the one object both front ends run their database part through: a record
// that the database does not take waits in the queue and goes in with the next one, a lot
// place counts or goes back, and the window's two threads (lot places on one, records on the
// other) share one station without a race (run under ThreadSanitizer by scripts/test --tsan).

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "linedb/line_database.h"
#include "linedb/line_station.h"
#include "linedb/record_upload.h"

namespace koru {
namespace {

namespace fs = std::filesystem;

class LineStationTest : public ::testing::Test {
  protected:
    LineStationTest() {
        char pattern[] = "/tmp/koru-station-XXXXXX";
        folder_ = ::mkdtemp(pattern);
        ::setenv("XDG_STATE_HOME", folder_.c_str(), 1);  // the queue of unsent records
    }
    ~LineStationTest() override {
        ::unsetenv("XDG_STATE_HOME");
        fs::remove_all(folder_);
    }

    std::set<std::string> StoredIds(const std::string& database) {
        std::string error;
        auto opened = LineDatabase::Open(database, error);
        EXPECT_TRUE(opened) << error;
        std::vector<std::string> lines;
        std::set<std::string> ids;
        if (opened && opened->RecordLines(lines, error)) {
            for (const std::string& line : lines) {
                ids.insert(nlohmann::json::parse(line).value("id", ""));
            }
        }
        return ids;
    }

    fs::path folder_;
};

TEST_F(LineStationTest, ARecordKeptWhileTheDatabaseIsDownGoesInWithTheNextOne) {
    // The database's folder cannot be made while a file stands where it goes.
    const fs::path blocker = folder_ / "shared";
    std::ofstream(blocker) << "not a folder";
    const std::string database = (blocker / "line.sqlite").string();
    std::vector<std::string> warnings;
    LineStation station({database, ""}, [&](const std::string& text) { warnings.push_back(text); });

    station.Store({{"id", "r1"}, {"passed", true}});
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("kept for koru-cli sync"), std::string::npos) << warnings[0];
    EXPECT_TRUE(fs::exists(UnsentRecordsPath()));

    fs::remove(blocker);
    station.Store({{"id", "r2"}, {"passed", true}});  // connects afresh, sends r1 first
    EXPECT_EQ(warnings.size(), 1u);
    EXPECT_EQ(StoredIds(database), (std::set<std::string>{"r1", "r2"}));
    std::size_t sent = 0, left = 0;
    std::string error;
    auto opened = LineDatabase::Open(database, error);
    ASSERT_TRUE(opened) << error;
    ASSERT_TRUE(UploadQueuedRecords(*opened, sent, left, error)) << error;
    EXPECT_EQ(sent + left, 0u);  // nothing waits any more
}

TEST_F(LineStationTest, ALotPlaceCountsWhenPassedAndGoesBackWhenTheRunEndsHoldingIt) {
    const std::string database = (folder_ / "line.sqlite").string();
    const LotRun lot{"LOT-7", "BOARD", std::string(64, 'c'), 2};
    LotCount count;
    std::string error;
    {
        LineStation station({database, ""});
        ASSERT_EQ(station.TakeLotPlace(lot, "COM1", count, error), LotPlaceResult::Taken) << error;
        ASSERT_TRUE(station.HoldsLotPlace());
        ASSERT_TRUE(station.FinishLotPlace(true, count, error)) << error;
        EXPECT_EQ(count.passed, 1);
        EXPECT_FALSE(station.HoldsLotPlace());
        ASSERT_EQ(station.TakeLotPlace(lot, "COM1", count, error), LotPlaceResult::Taken) << error;
    }  // ended holding the second place: it goes back
    LineStation next({database, ""});
    ASSERT_EQ(next.TakeLotPlace(lot, "COM2", count, error), LotPlaceResult::Taken) << error;
    LineStation third({database, ""});
    EXPECT_EQ(third.TakeLotPlace(lot, "COM3", count, error), LotPlaceResult::Full);
    EXPECT_EQ(count.passed, 1);
    EXPECT_EQ(count.held, 1);
    // A place let go without a word stays held for this process: the lot stays full.
    next.ForgetLotPlace();
    EXPECT_FALSE(next.HoldsLotPlace());
    EXPECT_EQ(third.TakeLotPlace(lot, "COM3", count, error), LotPlaceResult::Full);
}

TEST_F(LineStationTest, LotPlacesOnOneThreadAndRecordsOnAnotherShareOneStation) {
    const std::string database = (folder_ / "line.sqlite").string();
    LineStation station({database, ""});
    std::string error;
    ASSERT_TRUE(station.Open(error)) << error;
    constexpr int kChips = 40;
    const LotRun lot{"LOT-9", "BOARD", std::string(64, 'd'), std::nullopt};
    std::thread records([&] {
        for (int i = 0; i < kChips; ++i) {
            station.Store({{"id", "chip-" + std::to_string(i)}, {"passed", true}});
        }
    });
    int counted = 0;
    for (int i = 0; i < kChips; ++i) {
        LotCount count;
        std::string failed;
        if (station.TakeLotPlace(lot, "COM1", count, failed) == LotPlaceResult::Taken &&
            station.FinishLotPlace(true, count, failed)) {
            counted = static_cast<int>(count.passed);
        }
    }
    records.join();
    EXPECT_EQ(counted, kChips);
    EXPECT_EQ(StoredIds(database).size(), static_cast<std::size_t>(kChips));
}

}  // namespace
}  // namespace koru

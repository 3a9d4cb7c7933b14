#pragma once

// A production run's part in the line database, the same for koru-cli and the window: open the
// database and send the records that waited for it, find the serial job and give each chip its
// value, store each record (or queue it for sync), and count the chip in its lot. A build
// without the line database has the stand-in of line_station_absent.cpp: there Available() is
// false and everything that needs the database refuses with that reason.

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "linedb/line_database.h"
#include "operations/production_recorder.h"

namespace koru {

// Why whatever needs the database is refused in a build without it.
inline constexpr char kNoLineDatabaseText[] =
    "this build has no line database (built without SQLite and PostgreSQL)";

// What this PC's settings say about the line database.
struct LineSettings {
    std::string database;        // as saved (kValueLineDb), or --db; empty: the default
    std::string serialCommands;  // kValueSerialCommands
};

class LineStation final : public RecordStore {
  public:
    // warn: where what goes wrong without stopping the run is said (a record kept for sync, a
    // lot place that did not go back); nothing: kept quiet.
    explicit LineStation(LineSettings settings,
                         std::function<void(const std::string&)> warn = nullptr);
    ~LineStation() override;
    LineStation(const LineStation&) = delete;
    LineStation& operator=(const LineStation&) = delete;

    static bool Available();

    // The database the settings choose now: an SQLite file or a PostgreSQL URI.
    std::string Location() const;
    // Opens the database and sends the records that wait for it (the warning names those
    // left). False with the reason.
    bool Open(std::string& error);
    // Opens the database unless it is open, without sending what waits. False with the reason.
    bool Connect(std::string& error);
    bool IsOpen() const;
    // The database's name for people; empty before Open.
    std::string Name() const;

    // The serial job of that name (opening the database first); nothing with the reason.
    std::optional<SerialJob> Job(const std::string& name, std::string& error);
    // How many values the job has left; nothing without an end, or when it cannot be asked.
    std::optional<std::int64_t> ValuesLeft(const std::string& job);
    // From now on each chip on port takes its value of job, found before.
    void UseSerialJob(const SerialJob& job, const std::string& port);
    // From now on each chip takes its value of the job of that name (empty: none), found when
    // the chip asks, on the port then open: a database that is down refuses that chip with its
    // reason and is tried again for the next. Uses a connection of its own, to the database
    // settings name.
    void UseSerialJobWhenAsked(const std::string& job, const LineSettings& settings);
    // The value just programmed and the next one (empty when unknown or used up).
    std::pair<std::string, std::string> SerialLabels();

    // A record the day file holds now: into the database, or queued for sync. After a failed
    // upload the next record connects afresh.
    void Store(const nlohmann::json& record) override;

    // Before a chip's traffic: its place in run's lot, for the chip on port. The count is what
    // the lot held; Failed with the reason when the database cannot be used.
    LotPlaceResult TakeLotPlace(const LotRun& run, const std::string& port, LotCount& count,
                                std::string& error);
    bool HoldsLotPlace() const;
    // The place held counts when passed, else it goes back. False with the reason (the place
    // stays held until a later chip of this PC finds this process ended).
    bool FinishLotPlace(bool passed, LotCount& count, std::string& error);
    // The place held is let go without a word to the database (another lot was chosen): it goes
    // back once this process has ended.
    void ForgetLotPlace();
    // The record lines of lot, for its report.
    bool LotRecordLines(const std::string& lot, std::vector<std::string>& lines,
                        std::string& error);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace koru

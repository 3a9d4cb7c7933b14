#pragma once

// A koru-cli program run and the line database: what it checks before the first traffic
// (the serial job against the range, the lot's place), and what it says after the chip (the
// serial values, the lot's count and, for the chip that completes a lot, the lot's report).
// The database work itself is the line station's; without the line database (--serial, --db
// or a lot's quota) the run is refused, saying so.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "cli/options.h"
#include "linedb/line_station.h"

namespace koru::cli {

// Where the serial job of that name writes each chip's value: its address and size, from the
// line database. Nothing after saying why on standard error.
struct SerialPlace {
    std::uint32_t address = 0;
    std::uint32_t size = 0;
};
std::optional<SerialPlace> FindSerialPlace(const Options& options, const std::string& savedDatabase,
                                           const std::string& name);

// The lot a job's run counts its chips in.
struct LotOfRun {
    std::string name;
    std::string job;
    std::string checksum;  // the job's, whole
    std::optional<std::uint64_t> quota;
};

// A lot's passed chips and quota.
struct LotProgress {
    std::string name;
    std::int64_t passed = 0;
    std::int64_t quota = 0;
};

class LineRun {
  public:
    // options and settings choose the database (--db, else the saved one).
    LineRun(const Options& options, const LineSettings& settings);
    LineRun(const LineRun&) = delete;
    LineRun& operator=(const LineRun&) = delete;

    // Before a program run's first traffic: opens the database, uploads what waits for it and,
    // with --serial, finds the job, checks it against the range and installs its values.
    // 0, or the exit status after saying why on standard error.
    int Start(const Options& options, const std::string& port, std::uint32_t start,
              std::uint32_t end);
    // Where the production recorder hands each record after the day file.
    RecordStore& Records() { return station_; }
    // A record that went to the store: the lot counts the chip as it judged it.
    void NoteRecord(const nlohmann::json& record);
    // After Start, before any traffic, for a job whose lot has a quota: takes this chip's
    // place in the lot in the line database. 0, or the exit status after saying why: 3 with
    // "本批已完成" once the lot has its quota of passed chips, or without a usable database.
    int TakeLotPlace(const LotOfRun& lot, const std::string& port);
    // Why TakeLotPlace refused the chip ("本批已完成: lot ..."); empty when it did not.
    const std::string& LotRefusal() const { return lotRefusal_; }
    // After the chip's run: its place counts in the lot when its record said passed, else it
    // goes back (a place never finished goes back when the run ends). The chip that completes
    // the lot writes the lot report (the HTML page of the lot's records) into the production
    // record folder. What the status line adds: "本批 N/Q", "本批已完成 Q/Q, 报告 PATH"; empty
    // without a place.
    std::string FinishLot();
    // The lot as the last FinishLot left it; nothing before.
    std::optional<LotProgress> LastLotProgress() const;
    // "序列号 V, 下一个 N" after a serialized run; empty otherwise.
    std::string SerialText();

  private:
    LineStation station_;
    LotOfRun lot_;
    bool passed_ = false;                // the chip's record said passed
    std::optional<LotCount> lastCount_;  // as the last FinishLot found it
    std::string lotRefusal_;             // why the chip got no place
};

}  // namespace koru::cli

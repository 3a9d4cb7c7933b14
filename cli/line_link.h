#pragma once

// koru-cli and the line database: the serial subcommands, sync, report --db, and a program
// run's serial job and record upload. The Windows build has no line database: there these
// refuse with that reason (exit 3) and a program run without --serial and --db goes on alone.

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "cli/options.h"

namespace koru::cli {

int RunSerialCommand(const Options& options, const std::string& savedDatabase);
int RunSync(const Options& options, const std::string& savedDatabase);
int RunDatabaseReport(const Options& options);

// Where the serial job of that name writes each chip's value: its address and size, from the
// line database. Nothing after saying why on standard error.
struct SerialPlace {
    std::uint32_t address = 0;
    std::uint32_t size = 0;
};
std::optional<SerialPlace> FindSerialPlace(const Options& options, const std::string& savedDatabase,
                                           const std::string& name);

// What this PC's settings say about the line database.
struct LineSettings {
    std::string database;        // "linedb"
    std::string serialCommands;  // "serialcommands"
};

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

class LineLink {
  public:
    LineLink();
    ~LineLink();
    LineLink(const LineLink&) = delete;
    LineLink& operator=(const LineLink&) = delete;

    // Before a program run's first traffic: opens the database, uploads what waits for it and,
    // with --serial, finds the job, checks it against the range and installs its values.
    // 0, or the exit status after saying why on standard error.
    int Start(const Options& options, const LineSettings& settings, const std::string& port,
              std::uint32_t start, std::uint32_t end);
    // A record the day file holds now: into the database, or queued for sync.
    void Store(const nlohmann::json& record);
    // After Start, before any traffic, for a job whose lot has a quota: takes this chip's
    // place in the lot in the line database. 0, or the exit status after saying why: 3 with
    // "本批已完成" once the lot has its quota of passed chips, or without a usable database.
    int TakeLotPlace(const LotOfRun& lot, const std::string& port);
    // Why TakeLotPlace refused the chip ("本批已完成: lot ..."); empty when it did not.
    std::string LotRefusal() const;
    // After the chip's run: its place counts in the lot when its record said passed, else it
    // goes back (a place never finished goes back when the link ends). The chip that completes
    // the lot writes the lot report (the HTML page of the lot's records) into the production
    // record folder. What the status line adds: "本批 N/Q", "本批已完成 Q/Q, 报告 PATH"; empty
    // without a place.
    std::string FinishLot();
    // The lot as the last FinishLot left it; nothing before.
    std::optional<LotProgress> LastLotProgress() const;
    // "序列号 V, 下一个 N" after a serialized run; empty otherwise.
    std::string SerialText();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace koru::cli

#pragma once

// Where production records go and how each one is written: one JSON line per chip, appended
// whole and flushed before the next chip starts.

#include <chrono>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/append_only_file.h"

namespace koru {

// lumatrix/production in the user's state folder (platform/user_folders.h): on Linux
// $XDG_STATE_HOME/lumatrix/production, or ~/.local/state/lumatrix/production without it.
std::string DefaultProductionFolder();

// The day file of date ("2026-12-07") in folder: folder/2026-12-07.jsonl.
std::string ProductionDayFile(const std::string& folder, const std::string& date);

// A record as one line: compact JSON and a line end. Bytes that are not UTF-8 (a file name
// from an old file system, say) become U+FFFD instead of failing the record.
std::string ProductionLine(const nlohmann::json& record);

class ProductionLog {
  public:
    // fixedPath: every record goes there; empty: each record goes to the day file of its
    // date in DefaultProductionFolder().
    explicit ProductionLog(std::string fixedPath = {});

    // Opens the file the next record would go to now: false with the reason when it cannot be
    // written. Nothing is written.
    bool Check(std::string& error);

    // Appends the record dated when. False with the reason when it was not written whole.
    bool Write(const nlohmann::json& record, std::chrono::system_clock::time_point when,
               std::string& error);

    // The file of a record dated when.
    std::string PathFor(std::chrono::system_clock::time_point when) const;

  private:
    bool OpenFor(std::chrono::system_clock::time_point when, std::string& error);

    std::mutex mutex_;
    std::string fixedPath_;
    AppendOnlyFile file_;
};

}  // namespace koru

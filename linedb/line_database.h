#pragma once

// The line database: serial jobs, the values they hand out, and every chip's production
// record, shared by all processes of one PC (SQLite) or all PCs of a line (PostgreSQL). The
// rest of the program sees this interface and never SQL.

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "linedb/serial_job.h"

namespace koru {

class SqlConnection;

inline constexpr int kLineDatabaseVersion = 1;

// Who holds a reserved value, so that a value left behind by a process that died can be traced.
struct SerialHolder {
    std::string host;
    std::string port;
    long pid = 0;
};

struct SerialReservation {
    std::int64_t index = 0;           // how many values the job had handed out before
    std::vector<std::uint8_t> bytes;  // empty for a command job: its program gives them
    std::string label;                // decimal for counters, hexadecimal bytes otherwise
};

enum class ReserveResult { Reserved, UsedUp, Failed };

// One value handed out, as the database holds it.
struct SerialValueRow {
    std::string job;
    std::string label;
    std::string state;  // "reserved", "spent", "released"
    std::string host, port, pid, time, outcome;
};

struct SerialJobStatus {
    SerialJob job;
    std::string next;  // the value the next chip gets; empty when used up
    std::int64_t spent = 0, passed = 0, failed = 0;
    std::optional<std::int64_t> left;  // nothing: no end (a counter without a last value)
    std::vector<SerialValueRow> reserved;
};

// A production record as the database gives it back to serial find.
struct StoredRecord {
    std::string id, time, host, port, fileSha256, kind, serialJob, serialValue;
    bool passed = false;
};

class LineDatabase {
  public:
    // name: an SQLite file (its folder is made) or a PostgreSQL URI. Creates the schema on
    // first use. Nothing, with the reason (never the password), when it cannot be used.
    static std::unique_ptr<LineDatabase> Open(const std::string& name, std::string& error);
    ~LineDatabase();
    LineDatabase(const LineDatabase&) = delete;
    LineDatabase& operator=(const LineDatabase&) = delete;

    // The name as it may be shown.
    const std::string& Name() const { return shownName_; }

    // Defines a new job (a list job with its values, imported now). False when the name is
    // taken or the job is unusable.
    bool DefineJob(const SerialJob& job, const std::vector<std::vector<std::uint8_t>>& list,
                   std::string& error);
    // The job of that name; nothing with an empty error when there is none.
    std::optional<SerialJob> Job(const std::string& name, std::string& error);

    // Reserves the next value of job for holder in one transaction that locks the job's row:
    // a released value first (the lowest), else the next new one.
    ReserveResult Reserve(const SerialJob& job, const SerialHolder& holder,
                          SerialReservation& reservation, std::string& error);
    // A command job's program gave the reserved value's bytes.
    bool SetValue(const std::string& job, std::int64_t index,
                  const std::vector<std::uint8_t>& bytes, const std::string& label,
                  std::string& error);
    // The value reached a chip: never handed out again. outcome: the run's outcome kind.
    bool Spend(const std::string& job, std::int64_t index, const std::string& outcome,
               std::string& error);
    // The value never reached a chip: handed out next.
    bool Release(const std::string& job, std::int64_t index, std::string& error);
    // A person returns a reserved value (by its label) that never reached a chip.
    bool ReleaseReserved(const std::string& job, const std::string& label, std::string& error);

    // Every job, or the one named.
    bool Status(const std::optional<std::string>& job, std::vector<SerialJobStatus>& status,
                std::string& error);
    // Every record and every reserved value of label, in time order.
    bool Find(const std::string& label, std::vector<StoredRecord>& records,
              std::vector<SerialValueRow>& reserved, std::string& error);

    // Stores a production record (it carries its "id"); a record already stored is left as it
    // is, so a second upload changes nothing.
    bool StoreRecord(const nlohmann::json& record, std::string& error);
    // Every record's JSON line, oldest first.
    bool RecordLines(std::vector<std::string>& lines, std::string& error);

  private:
    LineDatabase(std::unique_ptr<SqlConnection> sql, std::string shownName);
    bool CreateSchema(std::string& error);
    bool Run(const std::string& sql, const std::vector<std::optional<std::string>>& params,
             std::string& error);

    std::unique_ptr<SqlConnection> sql_;
    std::string shownName_;
};

}  // namespace koru

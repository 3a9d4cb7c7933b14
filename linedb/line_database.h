#pragma once

// The line database: serial jobs, the values they hand out, and every chip's production
// record, shared by all processes of one PC (SQLite) or all PCs of a line (PostgreSQL). The
// rest of the program sees this interface and never SQL.

#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "linedb/serial_job.h"

namespace koru {

class SqlConnection;

// 2: a value at most once per job (unique key), the holder's id, the "sending" state and the
// log of values people released. 3: lots of production jobs, each chip's place in its lot,
// and the lot of each stored record.
inline constexpr int kLineDatabaseVersion = 3;

// Who holds a reserved value, so that a value left behind by a process that died can be traced.
// id: random, one per holder, so that only this holder moves its values on (a process id
// alone can come back after a restart, or on another PC).
struct SerialHolder {
    std::string host;
    std::string port;
    long pid = 0;
    std::string id = {};
};

// A fresh random holder id (32 hexadecimal digits).
std::string NewSerialHolderId();

struct SerialReservation {
    std::int64_t index = 0;           // how many values the job had handed out before
    std::vector<std::uint8_t> bytes;  // empty for a command job: its program gives them
    std::string label;                // decimal for counters, hexadecimal bytes otherwise
    std::string holderId;             // the holder id it is held for
};

// Time limits of every PostgreSQL session, in milliseconds (0: the server's default, none).
// The defaults let a loaded line's short transactions through and free a job's row lock
// held by a PC that stopped answering within a few seconds.
struct DatabaseLimits {
    int connectSeconds = 10;           // to reach the server at all
    int statementMs = 30000;           // one statement
    int lockMs = 10000;                // waiting for another PC's lock (the job's row)
    int idleInTransactionMs = 5000;    // a PC silent inside a transaction loses it
    int keepaliveIdleSeconds = 10;     // TCP keepalives: a dead link is noticed in
    int keepaliveIntervalSeconds = 5;  // idle + interval * count seconds
    int keepaliveCount = 3;
};

enum class ReserveResult { Reserved, UsedUp, Failed };

// One value handed out, as the database holds it.
struct SerialValueRow {
    std::string job;
    std::string label;
    std::string state;  // "reserved", "sending", "spent", "released"
    std::string host, port, pid, time, outcome;
};

// A value a person released, as the database logged it.
struct SerialReleaseEvent {
    std::string job, label, time, host, pid;
    std::string stateBefore;  // "reserved" or "sending"
    bool forced = false;
    std::string note;  // what --force passed over
};

enum class ReleaseResult { Released, Refused, Failed };

struct SerialJobStatus {
    SerialJob job;
    std::string next;  // the value the next chip gets; empty when used up
    std::int64_t spent = 0, passed = 0, failed = 0;
    std::optional<std::int64_t> left;      // nothing: no end (a counter without a last value)
    std::vector<SerialValueRow> reserved;  // reserved or sending
};

// A production record as the database gives it back to serial find.
struct StoredRecord {
    std::string id, time, host, port, fileSha256, kind, serialJob, serialValue;
    bool passed = false;
};

// A lot of a production job as a run names it.
struct LotRun {
    std::string name;
    std::string job;
    std::string jobChecksum;            // whole: a lot belongs to one approved job
    std::optional<std::int64_t> quota;  // passed chips; nothing: no end
};

// A lot's count: chips passed, places held by chips under way, and its quota.
struct LotCount {
    std::int64_t passed = 0;
    std::int64_t held = 0;
    std::optional<std::int64_t> quota;
    bool Complete() const { return quota && passed >= *quota; }
};

// One chip's place in its lot, held from before its first traffic until its run ends.
struct LotPlace {
    std::int64_t place = 0;
    std::string holderId;
};

// Full: the passed chips and the places held fill the quota (count says which).
// Refused: the lot belongs to another job.
enum class LotPlaceResult { Taken, Full, Refused, Failed };

class LineDatabase {
  public:
    // name: an SQLite file (its folder is made) or a PostgreSQL URI. Creates the schema on
    // first use. Nothing, with the reason (never the password), when it cannot be used.
    static std::unique_ptr<LineDatabase> Open(const std::string& name, std::string& error,
                                              const DatabaseLimits& limits = {});
    ~LineDatabase();
    LineDatabase(const LineDatabase&) = delete;
    LineDatabase& operator=(const LineDatabase&) = delete;

    // The name as it may be shown.
    const std::string& Name() const { return shownName_; }

    // Defines a new job (a list job with its values, imported now). False when the name is
    // taken, the job is unusable or the list repeats a value.
    bool DefineJob(const SerialJob& job, const std::vector<std::vector<std::uint8_t>>& list,
                   std::string& error);
    // The job of that name; nothing with an empty error when there is none.
    std::optional<SerialJob> Job(const std::string& name, std::string& error);

    // Reserves the next value of job for holder in one transaction that locks the job's row:
    // a released value first (the lowest), else the next new one. A holder without an id
    // gets a fresh one (in reservation.holderId).
    ReserveResult Reserve(const SerialJob& job, const SerialHolder& holder,
                          SerialReservation& reservation, std::string& error);
    // A command job's program gave the reserved value's bytes. False, and nothing stored,
    // when the job has handed out those bytes before (the error names that value's index).
    bool SetValue(const std::string& job, const SerialReservation& reservation, std::string& error);
    // Data for a chip is about to go out: from now on the value never goes to another chip,
    // whatever crashes. Only from "reserved", only by its holder.
    bool MarkSending(const std::string& job, std::int64_t index, const std::string& holderId,
                     std::string& error);
    // The value reached a chip: never handed out again. outcome: the run's outcome kind.
    // Only by its holder, from "reserved" or "sending".
    bool Spend(const std::string& job, std::int64_t index, const std::string& holderId,
               const std::string& outcome, std::string& error);
    // The value never reached a chip (its holder knows no data went out): handed out next.
    bool Release(const std::string& job, std::int64_t index, const std::string& holderId,
                 std::string& error);
    // A person returns a value (by its label) that never reached a chip. Refused when it is
    // spent or released, and, unless force, when it is sending, when a record names it, or
    // when holderRunning says its holder still runs. by: the person's host and process, kept
    // in the log of releases with what force passed over.
    ReleaseResult ReleaseByPerson(const std::string& job, const std::string& label, bool force,
                                  const SerialHolder& by,
                                  const std::function<bool(const SerialValueRow&)>& holderRunning,
                                  std::string& error);
    // The releases people made of label, oldest first.
    bool ReleaseEvents(const std::string& label, std::vector<SerialReleaseEvent>& events,
                       std::string& error);

    // Every job, or the one named.
    bool Status(const std::optional<std::string>& job, std::vector<SerialJobStatus>& status,
                std::string& error);
    // Every record and every reserved or sending value of label, in time order.
    bool Find(const std::string& label, std::vector<StoredRecord>& records,
              std::vector<SerialValueRow>& reserved, std::string& error);

    // Takes a place in lot for one chip before any traffic, in one transaction that locks the
    // lot's row (made by its first chip): Full, and nothing taken, when the passed chips and
    // the places held reach the quota, so a lot never gets more passed chips than its quota,
    // however many processes race. Refused when the lot was begun by another job (another
    // checksum). First, places held on holder.host by a process that holderRunning says has
    // ended go back. count: the lot after the call.
    LotPlaceResult TakeLotPlace(const LotRun& lot, const SerialHolder& holder,
                                const std::function<bool(long pid)>& holderRunning, LotPlace& place,
                                LotCount& count, std::string& error);
    // The run of place ended: passed counts the chip in the lot, else the place goes back. In
    // one transaction with the count, so exactly one caller sees its chip complete the lot.
    // Only by its holder, only a held place.
    bool FinishLotPlace(const std::string& lot, const LotPlace& place, bool passed, LotCount& count,
                        std::string& error);
    // The lot's count; nothing, with an empty error, when no chip was ever counted in it.
    std::optional<LotCount> Lot(const std::string& lot, std::string& error);
    // Every record's JSON line of lot, oldest first.
    bool LotRecordLines(const std::string& lot, std::vector<std::string>& lines,
                        std::string& error);

    // Stores a production record (it carries its "id"); a record already stored is left as it
    // is, so a second upload changes nothing.
    bool StoreRecord(const nlohmann::json& record, std::string& error);
    // Every record's JSON line, oldest first.
    bool RecordLines(std::vector<std::string>& lines, std::string& error);

  private:
    LineDatabase(std::unique_ptr<SqlConnection> sql, std::string shownName);
    bool CreateSchema(std::string& error);
    bool Migrate(int from, std::string& error);
    // The state and holder of a job's value, for a refusal's reason.
    std::string ValueStateText(const std::string& job, std::int64_t index);
    // Runs an UPDATE of one held value that returns its row; none returned means the value is
    // not (or no longer) in the state and hands the statement expects: error says where it is.
    bool MoveHeldValue(const std::string& statement,
                       const std::vector<std::optional<std::string>>& params,
                       const std::string& job, std::int64_t index, std::string& error);
    bool Run(const std::string& sql, const std::vector<std::optional<std::string>>& params,
             std::string& error);
    // The counts of lot's places, inside the caller's transaction.
    bool CountLot(const std::string& lot, LotCount& count, std::string& error);

    std::unique_ptr<SqlConnection> sql_;
    std::string shownName_;
};

}  // namespace koru

#include "linedb/line_database.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>

#include "linedb/line_database_location.h"
#include "linedb/sql_connection.h"
#include "platform/host_clock.h"

namespace koru {
namespace {

using Params = std::vector<SqlValue>;

const char* const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS koru_schema (version INTEGER NOT NULL)",
    "CREATE TABLE IF NOT EXISTS serial_jobs (name TEXT PRIMARY KEY, address BIGINT NOT NULL,"
    " size INTEGER NOT NULL, source TEXT NOT NULL, format TEXT, start_value BIGINT, step BIGINT,"
    " last_value BIGINT, command TEXT, list_length BIGINT, next_index BIGINT NOT NULL)",
    "CREATE TABLE IF NOT EXISTS serial_list (job TEXT NOT NULL, idx BIGINT NOT NULL,"
    " value TEXT NOT NULL, PRIMARY KEY (job, idx))",
    "CREATE TABLE IF NOT EXISTS serial_values (job TEXT NOT NULL, idx BIGINT NOT NULL,"
    " value TEXT, label TEXT, state TEXT NOT NULL, host TEXT, port TEXT, pid BIGINT, at TEXT,"
    " outcome TEXT, PRIMARY KEY (job, idx))",
    "CREATE INDEX IF NOT EXISTS serial_values_label ON serial_values (label)",
    "CREATE TABLE IF NOT EXISTS production_records (id TEXT PRIMARY KEY, time TEXT, host TEXT,"
    " port TEXT, file_sha256 TEXT, passed INTEGER, kind TEXT, serial_job TEXT,"
    " serial_value TEXT, line TEXT NOT NULL)",
    "CREATE INDEX IF NOT EXISTS production_records_serial ON production_records (serial_value)",
};

// Version 2: a value at most once per job, the holder's id beside its host, port and process,
// and the log of values people released. Values not yet given (a command job's, NULL) do not
// collide.
const char* const kSchemaVersion2[] = {
    "ALTER TABLE serial_values ADD COLUMN holder TEXT",
    "CREATE UNIQUE INDEX IF NOT EXISTS serial_values_value ON serial_values (job, value)",
    "CREATE TABLE IF NOT EXISTS serial_releases (job TEXT NOT NULL, idx BIGINT NOT NULL,"
    " label TEXT, at TEXT, host TEXT, pid BIGINT, state_before TEXT, forced INTEGER NOT NULL,"
    " note TEXT)",
    "CREATE INDEX IF NOT EXISTS serial_releases_label ON serial_releases (label)",
};

// Version 3: the lots of production jobs and each chip's place in one ("reserved" while its
// run goes on, then "passed" or "released"), and the lot of each stored record. A lot's row
// is the lock of its places, as a serial job's row is of its values.
const char* const kSchemaVersion3[] = {
    "CREATE TABLE IF NOT EXISTS lots (name TEXT PRIMARY KEY, job TEXT NOT NULL,"
    " job_checksum TEXT NOT NULL, quota BIGINT, made TEXT, next_place BIGINT NOT NULL)",
    "CREATE TABLE IF NOT EXISTS lot_places (lot TEXT NOT NULL, place BIGINT NOT NULL,"
    " state TEXT NOT NULL, host TEXT, port TEXT, pid BIGINT, holder TEXT, at TEXT,"
    " PRIMARY KEY (lot, place))",
    "ALTER TABLE production_records ADD COLUMN lot TEXT",
    "CREATE INDEX IF NOT EXISTS production_records_lot ON production_records (lot)",
};

std::string Text(const SqlValue& value) {
    return value.value_or("");
}

std::int64_t Number(const SqlValue& value) {
    return value && !value->empty() ? std::stoll(*value) : 0;
}

std::optional<std::int64_t> OptionalNumber(const SqlValue& value) {
    return value ? std::optional(std::stoll(*value)) : std::nullopt;
}

SqlValue NumberText(std::optional<std::int64_t> value) {
    return value ? SqlValue(std::to_string(*value)) : SqlValue();
}

constexpr char kJobColumns[] =
    "name, address, size, source, format, start_value, step, last_value, command";

SerialJob JobFromRow(const SqlRow& row) {
    SerialJob job;
    job.name = Text(row[0]);
    job.address = static_cast<std::uint32_t>(Number(row[1]));
    job.size = static_cast<std::size_t>(Number(row[2]));
    job.source = SerialSourceFromName(Text(row[3])).value_or(SerialSource::Counter);
    job.format = CounterFormatFromName(Text(row[4])).value_or(CounterFormat::Le);
    job.start = Number(row[5]);
    job.step = row[6] ? Number(row[6]) : 1;
    job.last = OptionalNumber(row[7]);
    job.command = Text(row[8]);
    return job;
}

SerialValueRow ValueFromRow(const SqlRow& row) {
    return {Text(row[0]), Text(row[1]), Text(row[2]), Text(row[3]),
            Text(row[4]), Text(row[5]), Text(row[6]), Text(row[7])};
}

// A transaction that is rolled back unless committed.
class Transaction {
  public:
    Transaction(SqlConnection& sql, std::string& error)
        : sql_(sql), open_(sql.Exec(sql.BeginWrite(), {}, nullptr, error)) {}
    ~Transaction() {
        if (open_) {
            std::string ignored;
            sql_.Exec("ROLLBACK", {}, nullptr, ignored);
        }
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    bool Open() const { return open_; }
    bool Commit(std::string& error) {
        open_ = false;
        if (sql_.Exec("COMMIT", {}, nullptr, error)) {
            return true;
        }
        std::string ignored;
        sql_.Exec("ROLLBACK", {}, nullptr, ignored);
        return false;
    }

  private:
    SqlConnection& sql_;
    bool open_;
};

std::string Now() {
    return LocalTimeText(std::chrono::system_clock::now());
}

}  // namespace

LineDatabase::LineDatabase(std::unique_ptr<SqlConnection> sql, std::string shownName)
    : sql_(std::move(sql)), shownName_(std::move(shownName)) {}

LineDatabase::~LineDatabase() = default;

std::string NewSerialHolderId() {
    std::random_device random;
    std::string id;
    for (int i = 0; i < 4; ++i) {
        char part[9];
        std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(random()));
        id += part;
    }
    return id;
}

std::unique_ptr<LineDatabase> LineDatabase::Open(const std::string& name, std::string& error,
                                                 const DatabaseLimits& limits) {
    if (const std::string problem = DatabaseNameProblem(name); !problem.empty()) {
        error = problem;
        return nullptr;
    }
    std::unique_ptr<SqlConnection> sql;
    if (IsPostgresName(name)) {
        sql = OpenPostgres(name, limits, error);
    } else {
        std::error_code ignored;
        const std::filesystem::path parent = std::filesystem::path(name).parent_path();
        if (!parent.empty()) {
            std::filesystem::create_directories(parent, ignored);
        }
        sql = OpenSqlite(name, error);
    }
    if (!sql) {
        return nullptr;
    }
    std::unique_ptr<LineDatabase> database(
        new LineDatabase(std::move(sql), RedactedDatabaseName(name)));
    if (!database->CreateSchema(error)) {
        error = database->Name() + ": " + error;
        return nullptr;
    }
    return database;
}

bool LineDatabase::Run(const std::string& sql, const std::vector<SqlValue>& params,
                       std::string& error) {
    return sql_->Exec(sql, params, nullptr, error);
}

bool LineDatabase::CreateSchema(std::string& error) {
    // Most opens find the schema made: a read, without taking the write lock.
    std::vector<SqlRow> version;
    std::string ignored;
    if (sql_->Exec("SELECT version FROM koru_schema", {}, &version, ignored) && !version.empty()) {
        const std::int64_t found = Number(version[0][0]);
        if (found > kLineDatabaseVersion) {
            error = "the database was made by a newer version (schema " + Text(version[0][0]) + ")";
            return false;
        }
        if (found == kLineDatabaseVersion) {
            return true;
        }
    }
    Transaction transaction(*sql_, error);
    if (!transaction.Open() || !Run(sql_->SchemaLock(), {}, error)) {
        return false;
    }
    // Another process may have made or updated it while this one waited for the lock.
    version.clear();
    if (!Run(kSchema[0], {}, error) ||
        !sql_->Exec("SELECT version FROM koru_schema", {}, &version, error)) {
        return false;
    }
    int from = version.empty() ? 0 : static_cast<int>(Number(version[0][0]));
    if (from == 0) {
        for (const char* statement : kSchema) {
            if (!Run(statement, {}, error)) {
                return false;
            }
        }
        if (!Run("INSERT INTO koru_schema (version) VALUES (1)", {}, error)) {
            return false;
        }
        from = 1;
    }
    if (from < kLineDatabaseVersion && !Migrate(from, error)) {
        return false;
    }
    return transaction.Commit(error);
}

bool LineDatabase::Migrate(int from, std::string& error) {
    if (from < 2) {
        // The unique key cannot be made over values handed out twice already: that is a
        // fault a person must see, not one to paper over.
        std::vector<SqlRow> twice;
        if (!sql_->Exec("SELECT job, label, MIN(idx), MAX(idx) FROM serial_values WHERE value IS "
                        "NOT NULL GROUP BY job, value, label HAVING COUNT(*) > 1",
                        {}, &twice, error)) {
            return false;
        }
        if (!twice.empty()) {
            error = "cannot update the database's schema: serial job " + Text(twice[0][0]) +
                    " handed out " + Text(twice[0][1]) + " twice (values " + Text(twice[0][2]) +
                    " and " + Text(twice[0][3]) + "); find its chips with serial find";
            return false;
        }
        for (const char* statement : kSchemaVersion2) {
            if (!Run(statement, {}, error)) {
                return false;
            }
        }
    }
    if (from < 3) {
        for (const char* statement : kSchemaVersion3) {
            if (!Run(statement, {}, error)) {
                return false;
            }
        }
    }
    return Run("UPDATE koru_schema SET version = $1", {std::to_string(kLineDatabaseVersion)},
               error);
}

bool LineDatabase::DefineJob(const SerialJob& job,
                             const std::vector<std::vector<std::uint8_t>>& list,
                             std::string& error) {
    if (const std::string problem = SerialJobProblem(job); !problem.empty()) {
        error = problem;
        return false;
    }
    if (job.source == SerialSource::List) {
        if (const std::string repeated = RepeatedListValue(list); !repeated.empty()) {
            error = repeated;
            return false;
        }
    }
    Transaction transaction(*sql_, error);
    if (!transaction.Open()) {
        return false;
    }
    std::vector<SqlRow> existing;
    if (!sql_->Exec("SELECT name FROM serial_jobs WHERE name = $1", {job.name}, &existing, error)) {
        return false;
    }
    if (!existing.empty()) {
        error = "a serial job named " + job.name + " exists already";
        return false;
    }
    const bool counter = job.source == SerialSource::Counter;
    const Params params{job.name,
                        std::to_string(job.address),
                        std::to_string(job.size),
                        SerialSourceName(job.source),
                        counter ? SqlValue(CounterFormatName(job.format)) : SqlValue(),
                        counter ? NumberText(job.start) : SqlValue(),
                        counter ? NumberText(job.step) : SqlValue(),
                        counter ? NumberText(job.last) : SqlValue(),
                        job.source == SerialSource::Command ? SqlValue(job.command) : SqlValue(),
                        job.source == SerialSource::List
                            ? NumberText(static_cast<std::int64_t>(list.size()))
                            : SqlValue()};
    if (!Run(std::string("INSERT INTO serial_jobs (") + kJobColumns +
                 ", list_length, next_index) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, 0)",
             params, error)) {
        return false;
    }
    if (job.source == SerialSource::List) {
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (!Run("INSERT INTO serial_list (job, idx, value) VALUES ($1, $2, $3)",
                     {job.name, std::to_string(i), HexBytes(list[i])}, error)) {
                return false;
            }
        }
    }
    return transaction.Commit(error);
}

std::optional<SerialJob> LineDatabase::Job(const std::string& name, std::string& error) {
    error.clear();
    std::vector<SqlRow> rows;
    if (!sql_->Exec(std::string("SELECT ") + kJobColumns + " FROM serial_jobs WHERE name = $1",
                    {name}, &rows, error) ||
        rows.empty()) {
        return std::nullopt;
    }
    return JobFromRow(rows[0]);
}

ReserveResult LineDatabase::Reserve(const SerialJob& job, const SerialHolder& holder,
                                    SerialReservation& reservation, std::string& error) {
    Transaction transaction(*sql_, error);
    if (!transaction.Open()) {
        return ReserveResult::Failed;
    }
    // The job's row is the lock: every allocation of this job waits here for the one before.
    std::vector<SqlRow> jobRow;
    if (!sql_->Exec(
            std::string("SELECT next_index FROM serial_jobs WHERE name = $1") + sql_->RowLock(),
            {job.name}, &jobRow, error)) {
        return ReserveResult::Failed;
    }
    if (jobRow.empty()) {
        error = "no serial job named " + job.name;
        return ReserveResult::Failed;
    }
    const std::string holderId = holder.id.empty() ? NewSerialHolderId() : holder.id;
    const Params holderParams{
        job.name, SqlValue(), holder.host, holder.port, std::to_string(holder.pid),
        Now(),    holderId};
    std::vector<SqlRow> released;
    if (!sql_->Exec("SELECT idx, value, label FROM serial_values WHERE job = $1 AND state = "
                    "'released' ORDER BY idx LIMIT 1",
                    {job.name}, &released, error)) {
        return ReserveResult::Failed;
    }
    if (!released.empty()) {
        Params params = holderParams;
        params[1] = released[0][0];
        if (!Run("UPDATE serial_values SET state = 'reserved', host = $3, port = $4, pid = $5, "
                 "at = $6, holder = $7, outcome = NULL WHERE job = $1 AND idx = $2",
                 params, error)) {
            return ReserveResult::Failed;
        }
        reservation.holderId = holderId;
        reservation.index = Number(released[0][0]);
        reservation.bytes =
            released[0][1] ? ParseHexBytes(*released[0][1]).value_or(std::vector<std::uint8_t>{})
                           : std::vector<std::uint8_t>{};
        reservation.label = Text(released[0][2]);
        return transaction.Commit(error) ? ReserveResult::Reserved : ReserveResult::Failed;
    }

    const std::int64_t index = Number(jobRow[0][0]);
    reservation = {index, {}, {}, holderId};
    if (job.source == SerialSource::Counter) {
        const std::optional<std::int64_t> value = CounterValueAt(job, index);
        if (!value) {
            return ReserveResult::UsedUp;
        }
        const auto bytes = EncodeCounter(*value, job.format, job.size);
        if (!bytes) {
            error = "serial job " + job.name + ": the value " + std::to_string(*value) +
                    " does not fit " + std::to_string(job.size) + " bytes as " +
                    CounterFormatName(job.format);
            return ReserveResult::Failed;
        }
        reservation.bytes = *bytes;
        reservation.label = std::to_string(*value);
    } else if (job.source == SerialSource::List) {
        std::vector<SqlRow> value;
        if (!sql_->Exec("SELECT value FROM serial_list WHERE job = $1 AND idx = $2",
                        {job.name, std::to_string(index)}, &value, error)) {
            return ReserveResult::Failed;
        }
        if (value.empty()) {
            return ReserveResult::UsedUp;
        }
        reservation.label = Text(value[0][0]);
        reservation.bytes = ParseHexBytes(reservation.label).value_or(std::vector<std::uint8_t>{});
        // A list imported before values were unique may repeat one: that entry is never
        // handed out a second time (the unique key would refuse it anyway).
        std::vector<SqlRow> before;
        if (!sql_->Exec("SELECT idx FROM serial_values WHERE job = $1 AND value = $2",
                        {job.name, reservation.label}, &before, error)) {
            return ReserveResult::Failed;
        }
        if (!before.empty()) {
            error = "serial job " + job.name + ": list entry " + std::to_string(index + 1) +
                    " repeats " + reservation.label + ", handed out as entry " +
                    std::to_string(Number(before[0][0]) + 1) + "; define a new job";
            return ReserveResult::Failed;
        }
    }
    Params params = holderParams;
    params[1] = std::to_string(index);
    params.push_back(reservation.bytes.empty() ? SqlValue()
                                               : SqlValue(HexBytes(reservation.bytes)));
    params.push_back(reservation.label.empty() ? SqlValue() : SqlValue(reservation.label));
    if (!Run("INSERT INTO serial_values (job, idx, host, port, pid, at, holder, value, label, "
             "state) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, 'reserved')",
             params, error) ||
        !Run("UPDATE serial_jobs SET next_index = next_index + 1 WHERE name = $1", {job.name},
             error)) {
        return ReserveResult::Failed;
    }
    return transaction.Commit(error) ? ReserveResult::Reserved : ReserveResult::Failed;
}

bool LineDatabase::SetValue(const std::string& job, const SerialReservation& reservation,
                            std::string& error) {
    Transaction transaction(*sql_, error);
    if (!transaction.Open()) {
        return false;
    }
    const std::string value = HexBytes(reservation.bytes);
    std::vector<SqlRow> before;
    if (!sql_->Exec("SELECT idx, state FROM serial_values WHERE job = $1 AND value = $2 AND "
                    "idx <> $3",
                    {job, value, std::to_string(reservation.index)}, &before, error)) {
        return false;
    }
    if (!before.empty()) {
        error = "serial job " + job + ": the program gave " + value + " again; value " +
                Text(before[0][0]) + " of the job is " + Text(before[0][1]) + " with it";
        return false;
    }
    std::vector<SqlRow> changed;
    if (!sql_->Exec("UPDATE serial_values SET value = $3, label = $4 WHERE job = $1 AND idx = $2 "
                    "AND holder = $5 AND state = 'reserved' RETURNING idx",
                    {job, std::to_string(reservation.index), value, reservation.label,
                     reservation.holderId},
                    &changed, error)) {
        return false;
    }
    if (changed.empty()) {
        error = "serial job " + job + ": " + ValueStateText(job, reservation.index);
        return false;
    }
    return transaction.Commit(error);
}

std::string LineDatabase::ValueStateText(const std::string& job, std::int64_t index) {
    std::vector<SqlRow> rows;
    std::string error;
    if (!sql_->Exec("SELECT label, state, host, port, pid FROM serial_values WHERE job = $1 AND "
                    "idx = $2",
                    {job, std::to_string(index)}, &rows, error)) {
        return error;
    }
    if (rows.empty()) {
        return "value " + std::to_string(index) + " was never handed out";
    }
    const std::string label = rows[0][0] ? Text(rows[0][0]) : "value " + std::to_string(index);
    return label + " is " + Text(rows[0][1]) + " and no longer held by this process (now " +
           Text(rows[0][2]) + " " + Text(rows[0][3]) + " process " + Text(rows[0][4]) + ")";
}

bool LineDatabase::MoveHeldValue(const std::string& statement, const std::vector<SqlValue>& params,
                                 const std::string& job, std::int64_t index, std::string& error) {
    std::vector<SqlRow> changed;
    if (!sql_->Exec(statement, params, &changed, error)) {
        return false;
    }
    if (changed.empty()) {
        error = ValueStateText(job, index);
        return false;
    }
    return true;
}

bool LineDatabase::MarkSending(const std::string& job, std::int64_t index,
                               const std::string& holderId, std::string& error) {
    return MoveHeldValue(
        "UPDATE serial_values SET state = 'sending', at = $4 WHERE job = $1 AND "
        "idx = $2 AND holder = $3 AND state = 'reserved' RETURNING idx",
        {job, std::to_string(index), holderId, Now()}, job, index, error);
}

bool LineDatabase::Spend(const std::string& job, std::int64_t index, const std::string& holderId,
                         const std::string& outcome, std::string& error) {
    return MoveHeldValue(
        "UPDATE serial_values SET state = 'spent', outcome = $4, at = $5 WHERE job = $1 AND "
        "idx = $2 AND holder = $3 AND state IN ('reserved', 'sending') RETURNING idx",
        {job, std::to_string(index), holderId, outcome, Now()}, job, index, error);
}

bool LineDatabase::Release(const std::string& job, std::int64_t index, const std::string& holderId,
                           std::string& error) {
    return MoveHeldValue(
        "UPDATE serial_values SET state = 'released', holder = NULL, at = $4 WHERE job = $1 AND "
        "idx = $2 AND holder = $3 AND state IN ('reserved', 'sending') RETURNING idx",
        {job, std::to_string(index), holderId, Now()}, job, index, error);
}

ReleaseResult LineDatabase::ReleaseByPerson(
    const std::string& job, const std::string& label, bool force, const SerialHolder& by,
    const std::function<bool(const SerialValueRow&)>& holderRunning, std::string& error) {
    Transaction transaction(*sql_, error);
    if (!transaction.Open()) {
        return ReleaseResult::Failed;
    }
    std::vector<SqlRow> rows;
    if (!sql_->Exec("SELECT job, label, state, host, port, pid, at, outcome, idx FROM "
                    "serial_values WHERE job = $1 AND label = $2",
                    {job, label}, &rows, error)) {
        return ReleaseResult::Failed;
    }
    if (rows.empty()) {
        error = "serial job " + job + " has not handed out " + label;
        return ReleaseResult::Refused;
    }
    const SerialValueRow value = ValueFromRow(rows[0]);
    const std::string index = Text(rows[0][8]);
    const std::string held = " (" + value.host + " " + value.port + " process " + value.pid +
                             " since " + value.time + ")";
    if (value.state != "reserved" && value.state != "sending") {
        error = "serial job " + job + ": " + label + " is " + value.state +
                "; only a reserved value can be released";
        return ReleaseResult::Refused;
    }
    std::vector<std::string> reasons;
    if (value.state == "sending") {
        reasons.push_back("data for a chip had started to go out" + held);
    }
    std::vector<SqlRow> records;
    if (!sql_->Exec("SELECT id, host, port, time FROM production_records WHERE serial_job = $1 "
                    "AND serial_value = $2 ORDER BY time",
                    {job, label}, &records, error)) {
        return ReleaseResult::Failed;
    }
    if (!records.empty()) {
        reasons.push_back("a production record names it (" + Text(records[0][1]) + " " +
                          Text(records[0][2]) + " at " + Text(records[0][3]) + ", record " +
                          Text(records[0][0]) + ")");
    }
    if (holderRunning && holderRunning(value)) {
        reasons.push_back("the process holding it still runs" + held);
    }
    std::string note;
    for (const std::string& reason : reasons) {
        note += (note.empty() ? "" : "; ") + reason;
    }
    if (!reasons.empty() && !force) {
        error = "serial job " + job + ": " + label + " is not released: " + note +
                ". Check that chip; when it does not hold the value, release it with --force";
        return ReleaseResult::Refused;
    }
    if (!Run("UPDATE serial_values SET state = 'released', holder = NULL, at = $3 WHERE "
             "job = $1 AND idx = $2",
             {job, index, Now()}, error) ||
        !Run("INSERT INTO serial_releases (job, idx, label, at, host, pid, state_before, forced, "
             "note) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9)",
             {job, index, label, Now(), by.host, std::to_string(by.pid), value.state,
              force ? "1" : "0", note.empty() ? SqlValue() : SqlValue(note)},
             error)) {
        return ReleaseResult::Failed;
    }
    return transaction.Commit(error) ? ReleaseResult::Released : ReleaseResult::Failed;
}

bool LineDatabase::ReleaseEvents(const std::string& label, std::vector<SerialReleaseEvent>& events,
                                 std::string& error) {
    std::vector<SqlRow> rows;
    if (!sql_->Exec("SELECT job, label, at, host, pid, state_before, forced, note FROM "
                    "serial_releases WHERE label = $1 ORDER BY at",
                    {label}, &rows, error)) {
        return false;
    }
    for (const SqlRow& row : rows) {
        events.push_back({Text(row[0]), Text(row[1]), Text(row[2]), Text(row[3]), Text(row[4]),
                          Text(row[5]), Number(row[6]) != 0, Text(row[7])});
    }
    return true;
}

bool LineDatabase::Status(const std::optional<std::string>& name,
                          std::vector<SerialJobStatus>& status, std::string& error) {
    std::vector<SqlRow> jobs;
    const std::string select =
        std::string("SELECT ") + kJobColumns + ", next_index, list_length FROM serial_jobs";
    if (!(name ? sql_->Exec(select + " WHERE name = $1", {*name}, &jobs, error)
               : sql_->Exec(select + " ORDER BY name", {}, &jobs, error))) {
        return false;
    }
    if (name && jobs.empty()) {
        error = "no serial job named " + *name;
        return false;
    }
    for (const SqlRow& row : jobs) {
        SerialJobStatus entry;
        entry.job = JobFromRow(row);
        const std::int64_t next = Number(row[9]);
        std::vector<SqlRow> counts;
        if (!sql_->Exec("SELECT state, outcome, COUNT(*) FROM serial_values WHERE job = $1 "
                        "GROUP BY state, outcome",
                        {entry.job.name}, &counts, error)) {
            return false;
        }
        std::int64_t released = 0;
        for (const SqlRow& count : counts) {
            const std::string state = Text(count[0]);
            const std::int64_t n = Number(count[2]);
            if (state == "spent") {
                entry.spent += n;
                (Text(count[1]) == "success" ? entry.passed : entry.failed) += n;
            } else if (state == "released") {
                released += n;
            }
        }
        std::optional<std::int64_t> total;
        if (entry.job.source == SerialSource::List) {
            total = Number(row[10]);
        } else if (entry.job.source == SerialSource::Counter && entry.job.last) {
            total = (*entry.job.last - entry.job.start) / entry.job.step + 1;
        }
        if (total) {
            entry.left = std::max<std::int64_t>(0, *total - next) + released;
        }
        std::vector<SqlRow> nextRow;
        if (!sql_->Exec("SELECT label FROM serial_values WHERE job = $1 AND state = 'released' "
                        "ORDER BY idx LIMIT 1",
                        {entry.job.name}, &nextRow, error)) {
            return false;
        }
        if (!nextRow.empty()) {
            entry.next = Text(nextRow[0][0]);
        } else if (entry.job.source == SerialSource::Counter) {
            const auto value = CounterValueAt(entry.job, next);
            entry.next = value ? std::to_string(*value) : "";
        } else if (entry.job.source == SerialSource::List) {
            if (!sql_->Exec("SELECT value FROM serial_list WHERE job = $1 AND idx = $2",
                            {entry.job.name, std::to_string(next)}, &nextRow, error)) {
                return false;
            }
            entry.next = nextRow.empty() ? "" : Text(nextRow[0][0]);
        } else {
            entry.next = "(from the program)";
        }
        std::vector<SqlRow> reserved;
        if (!sql_->Exec(
                "SELECT job, label, state, host, port, pid, at, outcome FROM "
                "serial_values WHERE job = $1 AND state IN ('reserved', 'sending') ORDER BY idx",
                {entry.job.name}, &reserved, error)) {
            return false;
        }
        for (const SqlRow& value : reserved) {
            entry.reserved.push_back(ValueFromRow(value));
        }
        status.push_back(std::move(entry));
    }
    return true;
}

bool LineDatabase::Find(const std::string& label, std::vector<StoredRecord>& records,
                        std::vector<SerialValueRow>& reserved, std::string& error) {
    std::vector<SqlRow> rows;
    if (!sql_->Exec("SELECT id, time, host, port, file_sha256, kind, serial_job, serial_value, "
                    "passed FROM production_records WHERE serial_value = $1 ORDER BY time",
                    {label}, &rows, error)) {
        return false;
    }
    for (const SqlRow& row : rows) {
        records.push_back({Text(row[0]), Text(row[1]), Text(row[2]), Text(row[3]), Text(row[4]),
                           Text(row[5]), Text(row[6]), Text(row[7]), Number(row[8]) != 0});
    }
    rows.clear();
    if (!sql_->Exec("SELECT job, label, state, host, port, pid, at, outcome FROM serial_values "
                    "WHERE label = $1 AND state IN ('reserved', 'sending') ORDER BY at",
                    {label}, &rows, error)) {
        return false;
    }
    for (const SqlRow& row : rows) {
        reserved.push_back(ValueFromRow(row));
    }
    return true;
}

bool LineDatabase::StoreRecord(const nlohmann::json& record, std::string& error) {
    const auto text = [&](const nlohmann::json& value) -> SqlValue {
        return value.is_string() ? SqlValue(value.get<std::string>()) : SqlValue();
    };
    const nlohmann::json& serial = record.contains("serial") ? record["serial"] : nlohmann::json();
    const nlohmann::json& file = record.contains("file") ? record["file"] : nlohmann::json();
    const nlohmann::json& outcome =
        record.contains("outcome") ? record["outcome"] : nlohmann::json();
    const Params params{
        text(record.value("id", nlohmann::json())),
        text(record.value("time", nlohmann::json())),
        text(record.value("host", nlohmann::json())),
        text(record.value("port", nlohmann::json())),
        file.is_object() ? text(file.value("sha256", nlohmann::json())) : SqlValue(),
        record.value("passed", false) ? "1" : "0",
        outcome.is_object() ? text(outcome.value("kind", nlohmann::json())) : SqlValue(),
        serial.is_object() ? text(serial.value("job", nlohmann::json())) : SqlValue(),
        serial.is_object() ? text(serial.value("value", nlohmann::json())) : SqlValue(),
        record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
        text(record.value("lot", nlohmann::json()))};
    if (!params[0]) {
        error = "the record has no id";
        return false;
    }
    return Run(
        "INSERT INTO production_records (id, time, host, port, file_sha256, passed, kind, "
        "serial_job, serial_value, line, lot) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, "
        "$11) "
        "ON CONFLICT (id) DO NOTHING",
        params, error);
}

bool LineDatabase::RecordLines(std::vector<std::string>& lines, std::string& error) {
    std::vector<SqlRow> rows;
    if (!sql_->Exec("SELECT line FROM production_records ORDER BY time, id", {}, &rows, error)) {
        return false;
    }
    for (const SqlRow& row : rows) {
        lines.push_back(Text(row[0]));
    }
    return true;
}

bool LineDatabase::CountLot(const std::string& lot, LotCount& count, std::string& error) {
    std::vector<SqlRow> rows;
    if (!sql_->Exec("SELECT quota FROM lots WHERE name = $1", {lot}, &rows, error)) {
        return false;
    }
    count = {};
    if (!rows.empty()) {
        count.quota = OptionalNumber(rows[0][0]);
    }
    rows.clear();
    if (!sql_->Exec("SELECT state, COUNT(*) FROM lot_places WHERE lot = $1 AND state IN "
                    "('reserved', 'passed') GROUP BY state",
                    {lot}, &rows, error)) {
        return false;
    }
    for (const SqlRow& row : rows) {
        (Text(row[0]) == "passed" ? count.passed : count.held) = Number(row[1]);
    }
    return true;
}

LotPlaceResult LineDatabase::TakeLotPlace(const LotRun& lot, const SerialHolder& holder,
                                          const std::function<bool(long pid)>& holderRunning,
                                          LotPlace& place, LotCount& count, std::string& error) {
    Transaction transaction(*sql_, error);
    if (!transaction.Open()) {
        return LotPlaceResult::Failed;
    }
    // The lot's first chip makes its row; every later one waits on that row for the one
    // before, on every PC of the line.
    if (!Run("INSERT INTO lots (name, job, job_checksum, quota, made, next_place) VALUES ($1, "
             "$2, $3, $4, $5, 0) ON CONFLICT (name) DO NOTHING",
             {lot.name, lot.job, lot.jobChecksum, NumberText(lot.quota), Now()}, error)) {
        return LotPlaceResult::Failed;
    }
    std::vector<SqlRow> lotRow;
    if (!sql_->Exec(std::string("SELECT job, job_checksum, next_place FROM lots WHERE name = $1") +
                        sql_->RowLock(),
                    {lot.name}, &lotRow, error)) {
        return LotPlaceResult::Failed;
    }
    if (lotRow.empty()) {
        error = "lot " + lot.name + " vanished from the database";
        return LotPlaceResult::Failed;
    }
    if (Text(lotRow[0][1]) != lot.jobChecksum) {
        error = "lot " + lot.name + " belongs to job " + Text(lotRow[0][0]) + " (checksum " +
                Text(lotRow[0][1]).substr(0, 8) + "): name another lot with --lot";
        return LotPlaceResult::Refused;
    }
    // A place held by a process of this PC that has ended will never be finished by it.
    std::vector<SqlRow> held;
    if (!sql_->Exec("SELECT place, pid FROM lot_places WHERE lot = $1 AND state = 'reserved' AND "
                    "host = $2",
                    {lot.name, holder.host}, &held, error)) {
        return LotPlaceResult::Failed;
    }
    for (const SqlRow& row : held) {
        const long pid = static_cast<long>(Number(row[1]));
        if (pid > 0 && holderRunning && !holderRunning(pid) &&
            !Run("UPDATE lot_places SET state = 'released', holder = NULL, at = $3 WHERE lot = $1 "
                 "AND place = $2",
                 {lot.name, Text(row[0]), Now()}, error)) {
            return LotPlaceResult::Failed;
        }
    }
    if (!CountLot(lot.name, count, error)) {
        return LotPlaceResult::Failed;
    }
    if (count.quota && count.passed + count.held >= *count.quota) {
        // What was given back above stays given back.
        return transaction.Commit(error) ? LotPlaceResult::Full : LotPlaceResult::Failed;
    }
    place.place = Number(lotRow[0][2]);
    place.holderId = holder.id.empty() ? NewSerialHolderId() : holder.id;
    if (!Run("INSERT INTO lot_places (lot, place, state, host, port, pid, holder, at) VALUES ($1, "
             "$2, 'reserved', $3, $4, $5, $6, $7)",
             {lot.name, std::to_string(place.place), holder.host, holder.port,
              std::to_string(holder.pid), place.holderId, Now()},
             error) ||
        !Run("UPDATE lots SET next_place = next_place + 1 WHERE name = $1", {lot.name}, error)) {
        return LotPlaceResult::Failed;
    }
    ++count.held;
    return transaction.Commit(error) ? LotPlaceResult::Taken : LotPlaceResult::Failed;
}

bool LineDatabase::FinishLotPlace(const std::string& lot, const LotPlace& place, bool passed,
                                  LotCount& count, std::string& error) {
    Transaction transaction(*sql_, error);
    if (!transaction.Open()) {
        return false;
    }
    std::vector<SqlRow> lotRow;
    if (!sql_->Exec(std::string("SELECT name FROM lots WHERE name = $1") + sql_->RowLock(), {lot},
                    &lotRow, error)) {
        return false;
    }
    std::vector<SqlRow> changed;
    if (!sql_->Exec("UPDATE lot_places SET state = $4, at = $5 WHERE lot = $1 AND place = $2 AND "
                    "holder = $3 AND state = 'reserved' RETURNING place",
                    {lot, std::to_string(place.place), place.holderId,
                     passed ? "passed" : "released", Now()},
                    &changed, error)) {
        return false;
    }
    if (changed.empty()) {
        error = "lot " + lot + ": place " + std::to_string(place.place) +
                " is no longer held by this process";
        return false;
    }
    return CountLot(lot, count, error) && transaction.Commit(error);
}

std::optional<LotCount> LineDatabase::Lot(const std::string& lot, std::string& error) {
    error.clear();
    std::vector<SqlRow> rows;
    if (!sql_->Exec("SELECT name FROM lots WHERE name = $1", {lot}, &rows, error) || rows.empty()) {
        return std::nullopt;
    }
    LotCount count;
    if (!CountLot(lot, count, error)) {
        return std::nullopt;
    }
    return count;
}

bool LineDatabase::LotRecordLines(const std::string& lot, std::vector<std::string>& lines,
                                  std::string& error) {
    std::vector<SqlRow> rows;
    if (!sql_->Exec("SELECT line FROM production_records WHERE lot = $1 ORDER BY time, id", {lot},
                    &rows, error)) {
        return false;
    }
    for (const SqlRow& row : rows) {
        lines.push_back(Text(row[0]));
    }
    return true;
}

}  // namespace koru

#include "linedb/line_database.h"

#include <chrono>
#include <filesystem>

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

std::unique_ptr<LineDatabase> LineDatabase::Open(const std::string& name, std::string& error) {
    std::unique_ptr<SqlConnection> sql;
    if (IsPostgresName(name)) {
        sql = OpenPostgres(name, error);
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
        if (Number(version[0][0]) > kLineDatabaseVersion) {
            error = "the database was made by a newer version (schema " + Text(version[0][0]) + ")";
            return false;
        }
        return true;
    }
    Transaction transaction(*sql_, error);
    if (!transaction.Open() || !Run(sql_->SchemaLock(), {}, error)) {
        return false;
    }
    for (const char* statement : kSchema) {
        if (!Run(statement, {}, error)) {
            return false;
        }
    }
    version.clear();
    if (!sql_->Exec("SELECT version FROM koru_schema", {}, &version, error)) {
        return false;
    }
    if (version.empty() && !Run("INSERT INTO koru_schema (version) VALUES ($1)",
                                {std::to_string(kLineDatabaseVersion)}, error)) {
        return false;
    }
    return transaction.Commit(error);
}

bool LineDatabase::DefineJob(const SerialJob& job,
                             const std::vector<std::vector<std::uint8_t>>& list,
                             std::string& error) {
    if (const std::string problem = SerialJobProblem(job); !problem.empty()) {
        error = problem;
        return false;
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
    const Params holderParams{
        job.name, SqlValue(), holder.host, holder.port, std::to_string(holder.pid), Now()};
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
                 "at = $6, outcome = NULL WHERE job = $1 AND idx = $2",
                 params, error)) {
            return ReserveResult::Failed;
        }
        reservation.index = Number(released[0][0]);
        reservation.bytes =
            released[0][1] ? ParseHexBytes(*released[0][1]).value_or(std::vector<std::uint8_t>{})
                           : std::vector<std::uint8_t>{};
        reservation.label = Text(released[0][2]);
        return transaction.Commit(error) ? ReserveResult::Reserved : ReserveResult::Failed;
    }

    const std::int64_t index = Number(jobRow[0][0]);
    reservation = {index, {}, {}};
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
    }
    Params params = holderParams;
    params[1] = std::to_string(index);
    params.push_back(reservation.bytes.empty() ? SqlValue()
                                               : SqlValue(HexBytes(reservation.bytes)));
    params.push_back(reservation.label.empty() ? SqlValue() : SqlValue(reservation.label));
    if (!Run("INSERT INTO serial_values (job, idx, host, port, pid, at, value, label, state) "
             "VALUES ($1, $2, $3, $4, $5, $6, $7, $8, 'reserved')",
             params, error) ||
        !Run("UPDATE serial_jobs SET next_index = next_index + 1 WHERE name = $1", {job.name},
             error)) {
        return ReserveResult::Failed;
    }
    return transaction.Commit(error) ? ReserveResult::Reserved : ReserveResult::Failed;
}

bool LineDatabase::SetValue(const std::string& job, std::int64_t index,
                            const std::vector<std::uint8_t>& bytes, const std::string& label,
                            std::string& error) {
    return Run("UPDATE serial_values SET value = $3, label = $4 WHERE job = $1 AND idx = $2",
               {job, std::to_string(index), HexBytes(bytes), label}, error);
}

bool LineDatabase::Spend(const std::string& job, std::int64_t index, const std::string& outcome,
                         std::string& error) {
    return Run(
        "UPDATE serial_values SET state = 'spent', outcome = $3, at = $4 WHERE job = $1 "
        "AND idx = $2",
        {job, std::to_string(index), outcome, Now()}, error);
}

bool LineDatabase::Release(const std::string& job, std::int64_t index, std::string& error) {
    return Run(
        "UPDATE serial_values SET state = 'released', at = $3 WHERE job = $1 AND idx = "
        "$2 AND state = 'reserved'",
        {job, std::to_string(index), Now()}, error);
}

bool LineDatabase::ReleaseReserved(const std::string& job, const std::string& label,
                                   std::string& error) {
    std::vector<SqlRow> rows;
    if (!sql_->Exec("SELECT idx, state FROM serial_values WHERE job = $1 AND label = $2",
                    {job, label}, &rows, error)) {
        return false;
    }
    if (rows.empty()) {
        error = "serial job " + job + " has not handed out " + label;
        return false;
    }
    if (Text(rows[0][1]) != "reserved") {
        error = "serial job " + job + ": " + label + " is " + Text(rows[0][1]) +
                ", not reserved; only a reserved value can be released";
        return false;
    }
    return Release(job, Number(rows[0][0]), error);
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
        if (!sql_->Exec("SELECT job, label, state, host, port, pid, at, outcome FROM "
                        "serial_values WHERE job = $1 AND state = 'reserved' ORDER BY idx",
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
                    "WHERE label = $1 AND state = 'reserved' ORDER BY at",
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
        record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)};
    if (!params[0]) {
        error = "the record has no id";
        return false;
    }
    return Run(
        "INSERT INTO production_records (id, time, host, port, file_sha256, passed, kind, "
        "serial_job, serial_value, line) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10) "
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

}  // namespace koru

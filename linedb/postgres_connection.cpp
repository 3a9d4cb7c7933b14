#include <algorithm>
#include <cctype>

#include "linedb/libpq_api.h"
#include "linedb/line_database.h"
#include "linedb/line_database_location.h"
#include "linedb/sql_connection.h"

namespace koru {
namespace {

// Serialises the first creation of the schema between processes (any fixed number will do).
constexpr char kSchemaLock[] = "SELECT pg_advisory_xact_lock(4150812)";

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

class PostgresConnection final : public SqlConnection {
  public:
    PostgresConnection(const LibpqApi& pq, PGconn* connection) : pq_(pq), connection_(connection) {}
    ~PostgresConnection() override { pq_.finish(connection_); }
    PostgresConnection(const PostgresConnection&) = delete;
    PostgresConnection& operator=(const PostgresConnection&) = delete;

    bool Exec(const std::string& sql, const std::vector<SqlValue>& params,
              std::vector<SqlRow>* rows, std::string& error) override {
        std::vector<const char*> values;
        for (const SqlValue& param : params) {
            values.push_back(param ? param->c_str() : nullptr);
        }
        PGresult* result = pq_.execParams(connection_, sql.c_str(), static_cast<int>(values.size()),
                                          nullptr, values.data(), nullptr, nullptr, 0);
        const ExecStatusType status = pq_.resultStatus(result);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            // The first line says it; CONTEXT and DETAIL lines are for the server's log.
            error = Trimmed(pq_.errorMessage(connection_));
            error = error.substr(0, error.find('\n'));
            pq_.clear(result);
            return false;
        }
        if (rows != nullptr) {
            for (int row = 0; row < pq_.ntuples(result); ++row) {
                SqlRow values;
                for (int column = 0; column < pq_.nfields(result); ++column) {
                    values.push_back(pq_.getisnull(result, row, column) != 0
                                         ? SqlValue()
                                         : SqlValue(pq_.getvalue(result, row, column)));
                }
                rows->push_back(std::move(values));
            }
        }
        pq_.clear(result);
        return true;
    }

    const char* BeginWrite() const override { return "BEGIN"; }
    const char* RowLock() const override { return " FOR UPDATE"; }
    const char* SchemaLock() const override { return kSchemaLock; }

  private:
    const LibpqApi& pq_;
    PGconn* connection_;
};

}  // namespace

std::unique_ptr<SqlConnection> OpenPostgres(const std::string& uri, const DatabaseLimits& limits,
                                            std::string& error) {
    const LibpqApi* pq = Libpq(error);
    if (pq == nullptr) {
        error = RedactedDatabaseName(uri) + ": " + error;
        return nullptr;
    }
    // The client library reads only a lower-case scheme as a URI.
    std::string name = uri;
    const std::size_t scheme = name.find("://");
    if (scheme != std::string::npos &&
        std::all_of(name.begin(), name.begin() + static_cast<std::ptrdiff_t>(scheme),
                    [](unsigned char c) { return std::isalpha(c) != 0; })) {
        for (std::size_t i = 0; i < scheme; ++i) {
            name[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[i])));
        }
    }
    // The name comes last: what it sets itself wins over these defaults.
    const std::string connectTimeout = std::to_string(limits.connectSeconds);
    const std::string idle = std::to_string(limits.keepaliveIdleSeconds);
    const std::string interval = std::to_string(limits.keepaliveIntervalSeconds);
    const std::string count = std::to_string(limits.keepaliveCount);
    const char* const keywords[] = {"connect_timeout",
                                    "keepalives",
                                    "keepalives_idle",
                                    "keepalives_interval",
                                    "keepalives_count",
                                    "dbname",
                                    nullptr};
    const char* const values[] = {
        connectTimeout.c_str(), "1",          idle.c_str(), interval.c_str(),
        count.c_str(),          name.c_str(), nullptr};
    PGconn* connection = pq->connectdbParams(keywords, values, 1);
    if (connection == nullptr || pq->status(connection) != CONNECTION_OK) {
        // The library's message can quote the name, or a piece of it such as the password.
        error = RedactedDatabaseName(uri) + ": " +
                (connection != nullptr
                     ? RedactedDatabaseText(Trimmed(pq->errorMessage(connection)), uri)
                     : "out of memory");
        pq->finish(connection);
        return nullptr;
    }
    auto opened = std::make_unique<PostgresConnection>(*pq, connection);
    // Notices ("relation already exists, skipping") are not for the operator.
    opened->Exec("SET client_min_messages TO WARNING", {}, nullptr, error);
    // No statement, lock wait or silent transaction of this PC holds the line up for long; a
    // PC whose link died inside a transaction loses it (and the job's row lock) on the server.
    for (const auto& [setting, ms] :
         {std::pair{"statement_timeout", limits.statementMs},
          std::pair{"lock_timeout", limits.lockMs},
          std::pair{"idle_in_transaction_session_timeout", limits.idleInTransactionMs}}) {
        if (!opened->Exec(std::string("SET ") + setting + " = " + std::to_string(ms), {}, nullptr,
                          error)) {
            error = RedactedDatabaseName(uri) + ": " + error;
            return nullptr;
        }
    }
    return opened;
}

}  // namespace koru

#include "linedb/libpq_api.h"
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
            error = Trimmed(pq_.errorMessage(connection_));
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

std::unique_ptr<SqlConnection> OpenPostgres(const std::string& uri, std::string& error) {
    const LibpqApi* pq = Libpq(error);
    if (pq == nullptr) {
        error = RedactedDatabaseName(uri) + ": " + error;
        return nullptr;
    }
    PGconn* connection = pq->connectdb(uri.c_str());
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
    return opened;
}

}  // namespace koru

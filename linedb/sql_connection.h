#pragma once

// The few things the line database needs of an SQL engine: run one statement with text
// parameters ($1, $2, ...) and get its rows back as text. SQLite and PostgreSQL each have one.

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace koru {

struct DatabaseLimits;

using SqlValue = std::optional<std::string>;  // nothing: NULL
using SqlRow = std::vector<SqlValue>;

class SqlConnection {
  public:
    virtual ~SqlConnection() = default;
    // Runs sql with params; rows (when given) receives what it returns. False with the engine's
    // own reason in error.
    virtual bool Exec(const std::string& sql, const std::vector<SqlValue>& params,
                      std::vector<SqlRow>* rows, std::string& error) = 0;
    // The statement that opens a transaction which will write (SQLite takes its write lock
    // at once, so two writers never meet half-way).
    virtual const char* BeginWrite() const = 0;
    // Appended to a SELECT of the one row that serialises a job's allocations.
    virtual const char* RowLock() const = 0;
    // Run first in the transaction that creates the schema, so two first uses do not collide.
    virtual const char* SchemaLock() const = 0;
};

// An SQLite file (made when new) in WAL mode with a busy time-out.
std::unique_ptr<SqlConnection> OpenSqlite(const std::string& path, std::string& error);

// A PostgreSQL server named by a connection URI or key=value string, every session under
// limits (the name's own connect_timeout and keepalive settings win over them). The error
// never holds the URI's password.
std::unique_ptr<SqlConnection> OpenPostgres(const std::string& uri, const DatabaseLimits& limits,
                                            std::string& error);

}  // namespace koru

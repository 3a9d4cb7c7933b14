#include <sqlite3.h>

#include <cctype>
#include <chrono>
#include <thread>

#include "linedb/sql_connection.h"

namespace koru {
namespace {

constexpr int kBusyTimeoutMs = 15000;
// How long a process waiting for another's write lock sleeps between tries. SQLite's own
// time-out handler sleeps ever longer (1, 2, 5, 10 ... up to 100 ms a try), so the sites of a
// gang, which all store their records at the same moment, would hand the lock on in coarse
// steps: 32 processes storing at once took 1.0 to 2.2 s that way here, 0.27 to 0.52 s with
// short pauses.
constexpr auto kBusyPause = std::chrono::microseconds(500);

// SQLite's busy handler: tries again every kBusyPause until kBusyTimeoutMs have passed since
// the wait began (tries == 0); 0 gives up (SQLITE_BUSY).
int RetryWhileBusy(void* waitBegan, int tries) {
    auto& began = *static_cast<std::chrono::steady_clock::time_point*>(waitBegan);
    const auto now = std::chrono::steady_clock::now();
    if (tries == 0) {
        began = now;
    }
    if (now - began >= std::chrono::milliseconds(kBusyTimeoutMs)) {
        return 0;
    }
    std::this_thread::sleep_for(kBusyPause);
    return 1;
}

// "$3" becomes "?3": SQLite reads "$3" as a named parameter, numbered by first appearance.
std::string NumberedParameters(const std::string& sql) {
    std::string out = sql;
    for (std::size_t i = 0; i + 1 < out.size(); ++i) {
        if (out[i] == '$' && std::isdigit(static_cast<unsigned char>(out[i + 1]))) {
            out[i] = '?';
        }
    }
    return out;
}

class SqliteConnection final : public SqlConnection {
  public:
    explicit SqliteConnection(sqlite3* db) : db_(db) {
        sqlite3_busy_handler(db_, RetryWhileBusy, &waitBegan_);
    }
    ~SqliteConnection() override { sqlite3_close_v2(db_); }

    bool Exec(const std::string& sql, const std::vector<SqlValue>& params,
              std::vector<SqlRow>* rows, std::string& error) override {
        sqlite3_stmt* statement = nullptr;
        lastCode_ =
            sqlite3_prepare_v2(db_, NumberedParameters(sql).c_str(), -1, &statement, nullptr);
        if (lastCode_ != SQLITE_OK) {
            error = sqlite3_errmsg(db_);
            return false;
        }
        for (std::size_t i = 0; i < params.size(); ++i) {
            const int index = static_cast<int>(i) + 1;
            if (params[i]) {
                sqlite3_bind_text(statement, index, params[i]->c_str(),
                                  static_cast<int>(params[i]->size()), SQLITE_TRANSIENT);
            } else {
                sqlite3_bind_null(statement, index);
            }
        }
        int result = SQLITE_ROW;
        while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
            if (rows == nullptr) {
                continue;
            }
            SqlRow row;
            for (int column = 0; column < sqlite3_column_count(statement); ++column) {
                const auto* text = sqlite3_column_text(statement, column);
                row.push_back(text == nullptr ? SqlValue()
                                              : SqlValue(reinterpret_cast<const char*>(text)));
            }
            rows->push_back(std::move(row));
        }
        lastCode_ = result;
        const bool done = result == SQLITE_DONE;
        if (!done) {
            error = sqlite3_errmsg(db_);
        }
        sqlite3_finalize(statement);
        return done;
    }

    const char* BeginWrite() const override { return "BEGIN IMMEDIATE"; }
    const char* RowLock() const override { return ""; }
    const char* SchemaLock() const override { return "SELECT 1"; }

    // Runs sql (no parameters, no rows kept) until it is not refused for a lock another
    // connection holds, with the busy handler's pause and time-out. For the statements SQLite
    // refuses at once instead of calling the busy handler: switching a new file to WAL while
    // another process opens it too.
    bool ExecWhileLocked(const std::string& sql, std::string& error) {
        const auto began = std::chrono::steady_clock::now();
        for (;;) {
            std::vector<SqlRow> rows;
            if (Exec(sql, {}, &rows, error)) {
                return true;
            }
            const int code = lastCode_ & 0xFF;  // the primary code of an extended one
            if ((code != SQLITE_BUSY && code != SQLITE_LOCKED) ||
                std::chrono::steady_clock::now() - began >=
                    std::chrono::milliseconds(kBusyTimeoutMs)) {
                return false;
            }
            std::this_thread::sleep_for(kBusyPause);
        }
    }

  private:
    sqlite3* db_;
    int lastCode_ = SQLITE_OK;  // of the last statement's preparation or last step
    std::chrono::steady_clock::time_point waitBegan_;  // of the wait for a lock in progress
};

}  // namespace

std::unique_ptr<SqlConnection> OpenSqlite(const std::string& path, std::string& error) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        error = path + ": " + (db != nullptr ? sqlite3_errmsg(db) : "cannot open");
        sqlite3_close_v2(db);
        return nullptr;
    }
    auto connection = std::make_unique<SqliteConnection>(db);
    if (!connection->ExecWhileLocked("PRAGMA journal_mode=WAL", error) ||
        // FULL: a reservation or a spent value is on the disk before the chip gets data, so a
        // power cut never brings a value back that a chip already holds.
        !connection->ExecWhileLocked("PRAGMA synchronous=FULL", error)) {
        error = path + ": " + error;
        return nullptr;
    }
    return connection;
}

}  // namespace koru

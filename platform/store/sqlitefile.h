#pragma once
// An SQLite file opened the way the settings store opens it: read-write and
// never created, a file that is not a database found at once, a lock given
// up after about a second and no statement running longer than a few; and
// its fields read as text, bytes that are not UTF-8 text never.

#include "status.h"

#include <sqlite3.h>

#include <chrono>
#include <optional>
#include <string>

namespace lumo::sqlite {

// Another program holding the file makes an operation wait this long before
// it gives up with "database is locked"; start-up must not hang on it.
inline constexpr int kBusyTimeoutMs = 1000;

class Connection {
    static constexpr int kStatementBudgetSeconds = 3;
    std::chrono::steady_clock::time_point deadline_{};

    static int pastDeadline(void* self)
    {
        return std::chrono::steady_clock::now() > static_cast<Connection*>(self)->deadline_ ? 1 : 0;
    }

public:
    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() { sqlite3_close_v2(db_); }

    // Read-write, never create: a missing file fails here and stays missing.
    // SQLite opens anything else without a word, so the schema is read at once
    // to find a file that is not a database (or is locked) now, not later.
    Status open(const std::string& path)
    {
        const int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr);
        if (rc != SQLITE_OK)
            return Status::failure(db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
        sqlite3_busy_timeout(db_, kBusyTimeoutMs);
        // A file edited by other means may make "lumoe" a view that computes
        // without end; no statement of ours may run longer than this.
        deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(kStatementBudgetSeconds);
        sqlite3_progress_handler(db_, 10000, &Connection::pastDeadline, this);
        return execute("PRAGMA schema_version");
    }

    Status execute(const char* sql)
    {
        if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            return Status::failure(sqlite3_errmsg(db_));
        return Status::success();
    }

    sqlite3* handle() const { return db_; }
    std::string error() const { return sqlite3_errmsg(db_); }

private:
    sqlite3* db_ = nullptr;
};

class Statement {
public:
    Statement() = default;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement() { sqlite3_finalize(stmt_); }

    Status prepare(const Connection& db, const std::string& sql)
    {
        if (sqlite3_prepare_v2(db.handle(), sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK)
            return Status::failure(db.error());
        return Status::success();
    }

    // Steps to the first row; a query without rows is a failure of its own.
    Status stepToRow(const Connection& db)
    {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW)
            return Status::success();
        if (rc == SQLITE_DONE)
            return Status::failure("table lumoe has no row");
        return Status::failure(db.error());
    }

    sqlite3_stmt* handle() const { return stmt_; }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

// Jet matches field names regardless of case, and so do we; with two columns
// of the same name the first one wins. -1 when there is none.
int columnOf(sqlite3_stmt* row, const char* name);
// A field as text: numbers as SQLite's text of them, TEXT as stored, a BLOB
// only when its bytes are text. Bytes that are not text never reach a widget.
Result<std::string> fieldText(sqlite3_stmt* row, const char* name);
// An optional field: nothing when the column is missing or null.
Result<std::optional<std::string>> optionalFieldText(sqlite3_stmt* row, const char* name);

}  // namespace lumo::sqlite

#pragma once
// How the history file holds a row: the four spreads as one blob, a drop of
// a total as one text; and a prepared statement that finalizes itself.

#include "records.h"

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>

namespace lumo::history {

class Statement {
public:
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return stmt_ != nullptr; }
    sqlite3_stmt* get() const { return stmt_; }
    void reset() const
    {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
    void bind(int at, std::int64_t value) const { sqlite3_bind_int64(stmt_, at, value); }
    void bind(int at, double value) const { sqlite3_bind_double(stmt_, at, value); }
    void bind(int at, const std::string& text) const
    {
        sqlite3_bind_text(stmt_, at, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    void bind(int at, const std::optional<std::string>& text) const
    {
        if (text)
            bind(at, *text);
    }
    void bindBlob(int at, const std::string& bytes) const
    {
        if (!bytes.empty())
            sqlite3_bind_blob(stmt_, at, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    }
    bool done() const { return sqlite3_step(stmt_) == SQLITE_DONE; }
    bool row() const { return sqlite3_step(stmt_) == SQLITE_ROW; }
    std::int64_t integer(int column) const { return sqlite3_column_int64(stmt_, column); }
    double real(int column) const { return sqlite3_column_double(stmt_, column); }
    bool null(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
    std::string text(int column) const
    {
        const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
        return bytes ? std::string(bytes, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column))) : std::string();
    }
    std::optional<std::string> optionalText(int column) const
    {
        return null(column) ? std::nullopt : std::optional<std::string>(text(column));
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

// The spreads of a row as one blob: a byte with a bit for each quantity
// present (bit i for slot i), then for each present one its least, mean and
// greatest as 32-bit floats (little-endian) and its count as an unsigned
// LEB128 number; no blob at all when there is none.
std::string spreadBlob(const PeriodRow& row);
void readSpreads(const void* blob, int size, PeriodRow& row);
std::string dropText(const std::optional<TotalDrop>& drop);
std::optional<TotalDrop> dropOf(const std::string& text);
// A row of minutes or hours as the statement's columns 0..8 hold it.
PeriodRow periodOf(const Statement& s, std::int64_t lengthMs);
// A day row as the statement's columns 0..11 hold it.
DayRow dayOf(const Statement& s);

}  // namespace lumo::history

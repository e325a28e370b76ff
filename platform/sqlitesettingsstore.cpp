#include "sqlitesettingsstore.h"

#include <sqlite3.h>

#include <chrono>
#include <cstddef>
#include <utility>

#include "portlist.h"
#include "status.h"

namespace lumo {

namespace {

// The settings query, two blanks and all, as every version of the file has
// been read with it.
constexpr const char* kSettingsQuery = "select  * from lumoe";
// The same scan with the row id in front: the first row it returns is the
// first row of the settings query, and the row id addresses it for writing.
constexpr const char* kFirstRowIdQuery = "select  rowid, * from lumoe";
constexpr const char* kRowByIdQuery = "select  * from lumoe where rowid = ?1";

// Another program holding the file makes an operation wait this long before
// it gives up with "database is locked"; start-up must not hang on it.
constexpr int kBusyTimeoutMs = 1000;

using Field = std::optional<std::string> SettingsRecord::*;

struct FieldSlot {
    const char* name;
    Field member;
};

// Load fills the value fields timer, num, com, Settings; the save's read-back
// goes timer, num, Settings, com.
constexpr FieldSlot kLoadOrder[] = {
    {"timer", &SettingsRecord::timer},
    {"num", &SettingsRecord::num},
    {"com", &SettingsRecord::com},
    {"Settings", &SettingsRecord::settings},
};
constexpr FieldSlot kReadBackOrder[] = {
    {"timer", &SettingsRecord::timer},
    {"num", &SettingsRecord::num},
    {"Settings", &SettingsRecord::settings},
    {"com", &SettingsRecord::com},
};

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF,
// and no NUL, which would cut the text short in the widgets.
bool isUtf8WithoutNul(const unsigned char* bytes, std::size_t size)
{
    std::size_t i = 0;
    while (i < size) {
        const unsigned lead = bytes[i];
        if (lead == 0)
            return false;
        if (lead < 0x80) {
            ++i;
            continue;
        }
        // Lead byte 110xxxxx, 1110xxxx or 11110xxx: the sequence length, the
        // payload bits of the lead and the smallest code point of that length.
        std::size_t length = 0;
        unsigned codePoint = 0;
        unsigned smallest = 0;
        if ((lead & 0xE0) == 0xC0) {
            length = 2;
            codePoint = lead & 0x1F;
            smallest = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            codePoint = lead & 0x0F;
            smallest = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            codePoint = lead & 0x07;
            smallest = 0x10000;
        } else {
            return false;
        }
        if (size - i < length)
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const unsigned next = bytes[i + k];
            if ((next & 0xC0) != 0x80)
                return false;
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        if (codePoint < smallest || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

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
// of the same name the first one wins.
int columnOf(sqlite3_stmt* row, const char* name)
{
    const int count = sqlite3_column_count(row);
    for (int column = 0; column < count; ++column) {
        const char* columnName = sqlite3_column_name(row, column);
        if (columnName && sqlite3_stricmp(columnName, name) == 0)
            return column;
    }
    return -1;
}

// A field as text: numbers as SQLite's text of them, TEXT as stored, a BLOB
// only when its bytes are text. Bytes that are not text never reach a widget.
Result<std::string> fieldText(sqlite3_stmt* row, const char* name)
{
    const std::string quoted = std::string("field \"") + name + "\"";
    const int column = columnOf(row, name);
    if (column < 0)
        return Result<std::string>::failure(quoted + " is missing");
    const int type = sqlite3_column_type(row, column);
    if (type == SQLITE_NULL)
        return Result<std::string>::failure(quoted + " is null");
    const auto* bytes = static_cast<const unsigned char*>(
        type == SQLITE_BLOB ? sqlite3_column_blob(row, column) : sqlite3_column_text(row, column));
    const auto size = static_cast<std::size_t>(sqlite3_column_bytes(row, column));
    if (size == 0)
        return Result<std::string>::success(std::string());
    if (!bytes)
        return Result<std::string>::failure(quoted + ": out of memory");
    if (!isUtf8WithoutNul(bytes, size))
        return Result<std::string>::failure(quoted + " does not hold UTF-8 text");
    return Result<std::string>::success(std::string(reinterpret_cast<const char*>(bytes), size));
}

// An optional field: nothing when the column is missing or null.
Result<std::optional<std::string>> optionalFieldText(sqlite3_stmt* row, const char* name)
{
    const int column = columnOf(row, name);
    if (column < 0 || sqlite3_column_type(row, column) == SQLITE_NULL)
        return Result<std::optional<std::string>>::success(std::nullopt);
    Result<std::string> text = fieldText(row, name);
    if (!text.ok())
        return Result<std::optional<std::string>>::failure(text.error());
    return Result<std::optional<std::string>>::success(std::move(text.value()));
}

class Session {
public:
    explicit Session(const std::string& path) : path_(path) {}

    void fail(const std::string& detail) { outcome_.failures.push_back("settings file " + path_ + ": " + detail); }

    // Records the failure and answers whether the step went through.
    bool check(const Status& status)
    {
        if (!status.ok())
            fail(status.error());
        return status.ok();
    }

    template <std::size_t N>
    void readFields(sqlite3_stmt* row, const FieldSlot (&order)[N])
    {
        for (const FieldSlot& slot : order) {
            Result<std::string> text = fieldText(row, slot.name);
            if (text.ok())
                outcome_.fields.*slot.member = std::move(text.value());
            else
                fail(text.error());
        }
    }

    StoreOutcome& outcome() { return outcome_; }

private:
    const std::string& path_;
    StoreOutcome outcome_;
};

Result<sqlite3_int64> firstRowId(const Connection& db)
{
    Statement query;
    Status status = query.prepare(db, kFirstRowIdQuery);
    if (status.ok())
        status = query.stepToRow(db);
    if (!status.ok())
        return Result<sqlite3_int64>::failure(status.error());
    return Result<sqlite3_int64>::success(sqlite3_column_int64(query.handle(), 0));
}

// One field of one row. The column name is one of our four constants, never
// operator input; the value goes in as a bound parameter.
template <class Bind>
Status writeField(const Connection& db, sqlite3_int64 rowId, const char* name, Bind bindValue)
{
    Statement update;
    const std::string sql = std::string("update lumoe set \"") + name + "\" = ?1 where rowid = ?2";
    Status status = update.prepare(db, sql);
    if (!status.ok())
        return Status::failure(std::string("writing field \"") + name + "\": " + status.error());
    if (bindValue(update.handle()) != SQLITE_OK || sqlite3_bind_int64(update.handle(), 2, rowId) != SQLITE_OK
        || sqlite3_step(update.handle()) != SQLITE_DONE)
        return Status::failure(std::string("writing field \"") + name + "\": " + db.error());
    if (sqlite3_changes(db.handle()) != 1)
        return Status::failure(std::string("writing field \"") + name + "\": the first row was not updated");
    return Status::success();
}

Status writeText(const Connection& db, sqlite3_int64 rowId, const char* name, const std::string& text)
{
    return writeField(db, rowId, name, [&text](sqlite3_stmt* stmt) {
        return sqlite3_bind_text(stmt, 1, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    });
}

Status writeInteger(const Connection& db, sqlite3_int64 rowId, const char* name, int value)
{
    return writeField(db, rowId, name, [value](sqlite3_stmt* stmt) { return sqlite3_bind_int(stmt, 1, value); });
}

// Whether the last failure was the file's, not the field's: a read-only file,
// a directory where the journal cannot be made, a lock, a full disk, a damaged
// file. After one of these the transaction cannot be trusted to hold the
// writes that seemed to go through.
bool fileCannotBeWritten(const Connection& db)
{
    switch (sqlite3_errcode(db.handle()) & 0xFF) {
    case SQLITE_READONLY: case SQLITE_CANTOPEN: case SQLITE_IOERR: case SQLITE_FULL: case SQLITE_BUSY:
    case SQLITE_LOCKED: case SQLITE_CORRUPT: case SQLITE_NOTADB: case SQLITE_PERM:
        return true;
    default:
        return false;
    }
}

struct EditWrites {
    bool anyWritten = false;
    bool fileUnwritable = false;
};

// Every write of the edit, each a step of its own: a field that fails is
// recorded and the rest still go on.
EditWrites writeEdit(Session& session, const Connection& db, sqlite3_int64 rowId, const SettingsEdit& edit)
{
    EditWrites writes;
    const auto step = [&](const Status& written) {
        if (session.check(written))
            writes.anyWritten = true;
        else if (fileCannotBeWritten(db))
            writes.fileUnwritable = true;
    };
    step(writeText(db, rowId, "timer", edit.interval));
    step(writeText(db, rowId, "num", edit.count));
    step(writeText(db, rowId, "Settings", edit.baud));
    if (const std::optional<int> port = portNumberOfEntry(edit.portEntry))
        step(writeInteger(db, rowId, "com", *port));
    return writes;
}

void readBack(Session& session, const Connection& db, sqlite3_int64 rowId)
{
    Statement row;
    if (!session.check(row.prepare(db, kRowByIdQuery)))
        return;
    sqlite3_bind_int64(row.handle(), 1, rowId);
    if (session.check(row.stepToRow(db)))
        session.readFields(row.handle(), kReadBackOrder);
}

}  // namespace

SqliteSettingsStore::SqliteSettingsStore(const std::string& directory)
    : SqliteSettingsStore(SettingsPlaces{directory, {}})
{
}

SqliteSettingsStore::SqliteSettingsStore(const SettingsPlaces& places)
    : path_(settingsFileOf(places)), missingCause_(missingSettingsCause(places))
{
}

StoreOutcome SqliteSettingsStore::load()
{
    Session session(path_);
    Connection db;
    Statement query;
    if (!session.check(db.open(path_))) {
        if (!settingsFileExists(path_))
            session.outcome().cause = missingCause_;
        return std::move(session.outcome());
    }
    if (session.check(query.prepare(db, kSettingsQuery)) && session.check(query.stepToRow(db)))
        session.readFields(query.handle(), kLoadOrder);
    return std::move(session.outcome());
}

Result<std::optional<PublishRow>> SqliteSettingsStore::loadPublishing()
{
    using Outcome = Result<std::optional<PublishRow>>;
    const auto failed = [this](const std::string& why) { return Outcome::failure("settings file " + path_ + ": " + why); };
    Connection db;
    if (Status opened = db.open(path_); !opened.ok())
        return failed(opened.error());
    Statement table;
    if (Status s = table.prepare(db, "select 1 from sqlite_master where type in ('table', 'view') and "
                                     "name = 'publish' collate nocase");
        !s.ok())
        return failed(s.error());
    if (sqlite3_step(table.handle()) != SQLITE_ROW)
        return Outcome::success(std::nullopt);  // no table: no publishing
    Statement query;
    if (Status s = query.prepare(db, "select * from publish"); !s.ok())
        return failed(s.error());
    const int rc = sqlite3_step(query.handle());
    if (rc == SQLITE_DONE)
        return Outcome::success(std::nullopt);
    if (rc != SQLITE_ROW)
        return failed(db.error());
    PublishRow row;
    using Field = std::optional<std::string> PublishRow::*;
    const std::pair<const char*, Field> fields[] = {
        {"enabled", &PublishRow::enabled},   {"host", &PublishRow::host},         {"port", &PublishRow::port},
        {"station", &PublishRow::station},   {"username", &PublishRow::username}, {"password", &PublishRow::password},
        {"cafile", &PublishRow::cafile}};
    for (const auto& [name, member] : fields) {
        Result<std::optional<std::string>> text = optionalFieldText(query.handle(), name);
        if (!text.ok())
            return failed("table publish: " + text.error());
        row.*member = std::move(text.value());
    }
    return Outcome::success(std::move(row));
}

StoreOutcome SqliteSettingsStore::save(const SettingsEdit& edit)
{
    Session session(path_);
    Connection db;
    // IMMEDIATE takes the write lock up front, so a file held by another
    // program fails here, before anything is written.
    if (!session.check(db.open(path_)) || !session.check(db.execute("BEGIN IMMEDIATE")))
        return std::move(session.outcome());

    const Result<sqlite3_int64> rowId = firstRowId(db);
    EditWrites writes;
    if (rowId.ok()) {
        writes = writeEdit(session, db, rowId.value(), edit);
        readBack(session, db, rowId.value());
    } else {
        session.fail(rowId.error());
    }

    // A field that could not be written was passed over; what could be
    // written is stored only if the commit succeeds, so a save that fails
    // as a whole (no row, a file that cannot be written) changes nothing.
    if (rowId.ok() && !writes.fileUnwritable && session.check(db.execute("COMMIT"))) {
        session.outcome().stored = writes.anyWritten;
        return std::move(session.outcome());
    }
    db.execute("ROLLBACK");
    return std::move(session.outcome());
}

}  // namespace lumo

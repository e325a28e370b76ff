#include "sqlitesettingsstore.h"

#include <sqlite3.h>

#include <chrono>
#include <cstddef>
#include <utility>
#include <vector>

#include "portlist.h"
#include "sqlitefile.h"
#include "status.h"

namespace lumo {

namespace {

using sqlite::Connection;
using sqlite::fieldText;
using sqlite::optionalFieldText;
using sqlite::Statement;

// The settings query, two blanks and all, as every version of the file has
// been read with it.
constexpr const char* kSettingsQuery = "select  * from lumoe";
// The same scan with the row id in front: the first row it returns is the
// first row of the settings query, and the row id addresses it for writing.
constexpr const char* kFirstRowIdQuery = "select  rowid, * from lumoe";
constexpr const char* kRowByIdQuery = "select  * from lumoe where rowid = ?1";

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

namespace {

// The fields of the first row of an optional table, each as text or
// nothing; nothing at all when there is no such table or no row.
using OptionalRow = std::optional<std::vector<std::optional<std::string>>>;

Result<OptionalRow> firstRowOf(const std::string& path, const char* table, const std::vector<const char*>& fields)
{
    const auto failed = [&](const std::string& why) { return Result<OptionalRow>::failure("settings file " + path + ": " + why); };
    Connection db;
    if (Status opened = db.open(path); !opened.ok())
        return failed(opened.error());
    Statement exists;
    if (Status s = exists.prepare(db, "select 1 from sqlite_master where type in ('table', 'view') and name = ?1 collate nocase");
        !s.ok())
        return failed(s.error());
    sqlite3_bind_text(exists.handle(), 1, table, -1, SQLITE_STATIC);
    if (sqlite3_step(exists.handle()) != SQLITE_ROW)
        return Result<OptionalRow>::success(std::nullopt);
    Statement query;
    if (Status s = query.prepare(db, std::string("select * from \"") + table + "\""); !s.ok())
        return failed(s.error());
    const int rc = sqlite3_step(query.handle());
    if (rc == SQLITE_DONE)
        return Result<OptionalRow>::success(std::nullopt);
    if (rc != SQLITE_ROW)
        return failed(db.error());
    std::vector<std::optional<std::string>> row;
    for (const char* name : fields) {
        Result<std::optional<std::string>> text = optionalFieldText(query.handle(), name);
        if (!text.ok())
            return failed(std::string("table ") + table + ": " + text.error());
        row.push_back(std::move(text.value()));
    }
    return Result<OptionalRow>::success(std::move(row));
}

}  // namespace

Result<std::optional<PublishRow>> SqliteSettingsStore::loadPublishing()
{
    using Outcome = Result<std::optional<PublishRow>>;
    const Result<OptionalRow> read =
        firstRowOf(path_, "publish", {"enabled", "host", "port", "station", "username", "password", "cafile"});
    if (!read.ok())
        return Outcome::failure(read.error());
    if (!read.value())  // no table or no row: no publishing
        return Outcome::success(std::nullopt);
    const auto& f = *read.value();
    return Outcome::success(PublishRow{f[0], f[1], f[2], f[3], f[4], f[5], f[6]});
}

Result<HistoryRow> SqliteSettingsStore::loadHistory()
{
    const Result<OptionalRow> read = firstRowOf(path_, "history", {"enabled", "keep_years"});
    if (!read.ok())
        return Result<HistoryRow>::failure(read.error());
    if (!read.value())
        return Result<HistoryRow>::success(HistoryRow{});
    return Result<HistoryRow>::success(HistoryRow{(*read.value())[0], (*read.value())[1]});
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

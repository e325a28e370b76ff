#include "historyfile.h"

#include "gridmodel.h"
#include "historyos.h"
#include "historyrow.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>

namespace lumo::history {

namespace {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS minutes(instrument INTEGER NOT NULL, t INTEGER NOT NULL, spread BLOB, forward TEXT,"
    " reverse TEXT, diameter REAL, alarms INTEGER NOT NULL, answers INTEGER NOT NULL, blank REAL NOT NULL,"
    " PRIMARY KEY(instrument, t)) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS hours(instrument INTEGER NOT NULL, t INTEGER NOT NULL, spread BLOB, forward TEXT,"
    " reverse TEXT, diameter REAL, alarms INTEGER NOT NULL, answers INTEGER NOT NULL, blank REAL NOT NULL,"
    " PRIMARY KEY(instrument, t)) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS days(instrument INTEGER NOT NULL, day TEXT NOT NULL, first_forward TEXT,"
    " last_forward TEXT, first_reverse TEXT, last_reverse TEXT, first_ms INTEGER NOT NULL, last_ms INTEGER NOT NULL,"
    " answered REAL NOT NULL, alarms INTEGER NOT NULL, forward_drop TEXT, reverse_drop TEXT,"
    " PRIMARY KEY(instrument, day)) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS events(id INTEGER PRIMARY KEY, kind TEXT NOT NULL, instrument INTEGER NOT NULL,"
    " what TEXT NOT NULL, from_ms INTEGER NOT NULL, to_ms INTEGER);"
    "CREATE INDEX IF NOT EXISTS events_by_start ON events(from_ms);"
    "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT) WITHOUT ROWID;"
    "INSERT OR IGNORE INTO meta VALUES('format', '1');";

const char* tableOf(Period period) { return period == Period::Minutes ? "minutes" : "hours"; }

std::vector<int> instrumentsOrAll(const std::vector<int>& instruments)
{
    if (!instruments.empty())
        return instruments;
    std::vector<int> all;
    for (int n = 1; n <= kInstruments; ++n)
        all.push_back(n);
    return all;
}

}  // namespace

HistoryFile::HistoryFile() = default;
HistoryFile::~HistoryFile() { close(); }

void HistoryFile::close()
{
    writing_.reset();
    sqlite3_close_v2(db_);
    db_ = nullptr;
}

bool HistoryFile::execute(const char* sql) const { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

std::optional<FileFault> HistoryFile::fault() const
{
    const int code = db_ ? sqlite3_errcode(db_) & 0xFF : SQLITE_CANTOPEN;
    const bool noRoom = code == SQLITE_FULL || (db_ && (code == SQLITE_IOERR || code == SQLITE_CANTOPEN) &&
                                                 isNoRoom(sqlite3_system_errno(db_)));
    FileFault fault;
    fault.message = path_ + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory");
    if (noRoom) {
        fault.kind = FileFault::Kind::Full;
        return fault;
    }
    switch (code) {
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_CANTOPEN: fault.kind = FileFault::Kind::ReadOnly; break;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB: fault.kind = FileFault::Kind::Damaged; break;
    default: fault.kind = FileFault::Kind::Other; break;
    }
    return fault;
}

std::optional<FileFault> HistoryFile::openForWriting(const std::string& path) { return open(path, true); }

std::optional<FileFault> HistoryFile::openForReading(const std::string& path) { return open(path, false); }

std::optional<FileFault> HistoryFile::open(const std::string& path, bool writing)
{
    close();
    path_ = path;
    const int flags = writing ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        auto failure = fault();
        close();
        return failure;
    }
    sqlite3_busy_timeout(db_, 2000);
    // Whoever may write the file is trusted with nothing more: no function
    // with side effects from its schema, no writes to its internals.
    sqlite3_db_config(db_, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    // Read the schema now: a file that is not a database says so here.
    if (!execute("PRAGMA schema_version"))
        return fault();
    // Every commit reaches the disk (a power cut loses at most the minute
    // under way); the write-ahead log goes into the file by checkpoint(),
    // apart from the minute's transaction.
    if (writing && !(execute("PRAGMA journal_mode=WAL") && execute("PRAGMA synchronous=FULL") &&
                     execute("PRAGMA wal_autocheckpoint=0") && execute(kSchema)))
        return fault();
    return std::nullopt;
}

// The statements a minute's transaction uses, prepared once for the
// connection.
struct HistoryFile::Writing {
    explicit Writing(sqlite3* db)
        : findMinute(db, "SELECT instrument, t, spread, forward, reverse, diameter, alarms, answers, blank FROM minutes"
                         " WHERE instrument = ?1 AND t = ?2"),
          putMinute(db, "INSERT OR REPLACE INTO minutes VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)"),
          findHour(db, "SELECT instrument, t, spread, forward, reverse, diameter, alarms, answers, blank FROM hours"
                       " WHERE instrument = ?1 AND t = ?2"),
          putHour(db, "INSERT OR REPLACE INTO hours VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)"),
          findDay(db, "SELECT instrument, day, first_forward, last_forward, first_reverse, last_reverse, first_ms,"
                      " last_ms, answered, alarms, forward_drop, reverse_drop FROM days WHERE instrument = ?1 AND day = ?2"),
          putDay(db, "INSERT OR REPLACE INTO days VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)"),
          openEvent(db, "INSERT INTO events(kind, instrument, what, from_ms, to_ms) VALUES(?1, ?2, ?3, ?4, ?5)"),
          closeEvent(db, "UPDATE events SET to_ms = ?5 WHERE kind = ?1 AND instrument = ?2 AND what = ?3"
                         " AND from_ms = ?4 AND to_ms IS NULL"),
          putMeta(db, "INSERT OR REPLACE INTO meta VALUES('last_written_ms', ?1)")
    {
    }
    bool ok() const
    {
        return findMinute.ok() && putMinute.ok() && findHour.ok() && putHour.ok() && findDay.ok() && putDay.ok() &&
               openEvent.ok() && closeEvent.ok() && putMeta.ok();
    }

    Statement findMinute, putMinute, findHour, putHour, findDay, putDay, openEvent, closeEvent, putMeta;
};

namespace {

bool putPeriod(const Statement& find, const Statement& put, const PeriodRow& added)
{
    find.reset();
    find.bind(1, std::int64_t{added.instrument});
    find.bind(2, added.startMs);
    const PeriodRow row = find.row() ? mergedPeriod(periodOf(find, added.lengthMs), added) : added;
    // A statement left on a row keeps its read open, and with it the
    // write-ahead log from ever going into the file.
    find.reset();
    put.reset();
    put.bind(1, std::int64_t{row.instrument});
    put.bind(2, row.startMs);
    put.bindBlob(3, spreadBlob(row));
    put.bind(4, row.forwardTotal);
    put.bind(5, row.reverseTotal);
    if (row.pipeDiameter)
        put.bind(6, static_cast<double>(*row.pipeDiameter));
    put.bind(7, std::int64_t{row.alarms});
    put.bind(8, std::int64_t{row.answers});
    put.bind(9, row.blankSeconds);
    return put.done();
}

bool putDayRow(const Statement& find, const Statement& put, const DayRow& added)
{
    find.reset();
    find.bind(1, std::int64_t{added.instrument});
    find.bind(2, added.day);
    const DayRow day = find.row() ? mergedDay(dayOf(find), added) : added;
    find.reset();
    put.reset();
    put.bind(1, std::int64_t{day.instrument});
    put.bind(2, day.day);
    put.bind(3, day.firstForward);
    put.bind(4, day.lastForward);
    put.bind(5, day.firstReverse);
    put.bind(6, day.lastReverse);
    put.bind(7, day.firstAnswerMs);
    put.bind(8, day.lastAnswerMs);
    put.bind(9, day.answeredSeconds);
    put.bind(10, std::int64_t{day.alarms});
    if (day.forwardDrop)
        put.bind(11, dropText(day.forwardDrop));
    if (day.reverseDrop)
        put.bind(12, dropText(day.reverseDrop));
    return put.done();
}

bool putEvent(const Statement& s, const Event& e)
{
    s.reset();
    s.bind(1, kindName(e.kind));
    s.bind(2, std::int64_t{e.instrument});
    s.bind(3, e.what);
    s.bind(4, e.fromMs);
    if (e.toMs)
        s.bind(5, *e.toMs);
    return s.done();
}

}  // namespace

std::optional<FileFault> HistoryFile::write(const Batch& batch)
{
    if (!writing_)
        writing_ = std::make_unique<Writing>(db_);
    if (!writing_->ok()) {
        auto failure = fault();
        writing_.reset();
        return failure;
    }
    const Writing& w = *writing_;
    if (!execute("BEGIN IMMEDIATE"))
        return fault();
    bool ok = true;
    for (const PeriodRow& row : batch.minutes)
        ok = ok && putPeriod(w.findMinute, w.putMinute, row);
    for (const PeriodRow& row : batch.hours)
        ok = ok && putPeriod(w.findHour, w.putHour, row);
    for (const DayRow& day : batch.days)
        ok = ok && putDayRow(w.findDay, w.putDay, day);
    for (const Event& e : batch.opened)
        ok = ok && putEvent(w.openEvent, e);
    // An end whose start never reached the file goes in whole.
    for (const Event& e : batch.closed)
        ok = ok && putEvent(w.closeEvent, e) && (sqlite3_changes(db_) > 0 || putEvent(w.openEvent, e));
    std::int64_t last = 0;
    for (const PeriodRow& row : batch.minutes)
        last = std::max(last, row.startMs + row.lengthMs);
    if (ok && last > 0) {
        w.putMeta.reset();
        w.putMeta.bind(1, std::to_string(last));
        ok = w.putMeta.done();
    }
    if (ok && execute("COMMIT"))
        return std::nullopt;
    auto failure = fault();
    execute("ROLLBACK");
    return failure;
}

std::optional<FileFault> HistoryFile::checkpoint()
{
    if (sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr) == SQLITE_OK)
        return std::nullopt;
    return fault();
}

std::optional<FileFault> HistoryFile::closeDanglingEvents()
{
    if (execute("UPDATE events SET to_ms = MAX(from_ms, COALESCE((SELECT CAST(value AS INTEGER) FROM meta"
                " WHERE key = 'last_written_ms'), from_ms)) WHERE to_ms IS NULL"))
        return std::nullopt;
    return fault();
}

std::optional<FileFault> HistoryFile::dropOld(std::int64_t nowMs, int keepYears, const std::string& oldestDayKept)
{
    const std::int64_t keptFrom = nowMs - static_cast<std::int64_t>(keepYears) * 366 * 24 * kHourMs;
    if (!execute("BEGIN IMMEDIATE"))
        return fault();
    bool ok = true;
    for (const int n : instrumentsOrAll({})) {
        for (const auto& [table, before] : {std::pair{"minutes", nowMs - kMinutesKeptMs}, std::pair{"hours", keptFrom}}) {
            const Statement drop(db_, (std::string("DELETE FROM ") + table + " WHERE instrument = ?1 AND t < ?2").c_str());
            drop.bind(1, std::int64_t{n});
            drop.bind(2, before);
            ok = ok && drop.ok() && drop.done();
        }
        const Statement days(db_, "DELETE FROM days WHERE instrument = ?1 AND day < ?2");
        days.bind(1, std::int64_t{n});
        days.bind(2, oldestDayKept);
        ok = ok && days.ok() && days.done();
    }
    const Statement events(db_, "DELETE FROM events WHERE to_ms IS NOT NULL AND to_ms < ?1");
    events.bind(1, keptFrom);
    ok = ok && events.ok() && events.done();
    if (ok && execute("COMMIT"))
        return std::nullopt;
    auto failure = fault();
    execute("ROLLBACK");
    return failure;
}

Result<std::vector<PeriodRow>> HistoryFile::periods(Period period, const std::vector<int>& instruments,
                                                   std::int64_t fromMs, std::int64_t toMs) const
{
    using Rows = Result<std::vector<PeriodRow>>;
    const Statement query(db_, (std::string("SELECT instrument, t, spread, forward, reverse, diameter, alarms, answers,"
                                            " blank FROM ") +
                                tableOf(period) + " WHERE instrument = ?1 AND t >= ?2 AND t < ?3 ORDER BY t")
                                   .c_str());
    if (!query.ok())
        return Rows::failure(fault()->message);
    std::vector<PeriodRow> rows;
    for (const int n : instrumentsOrAll(instruments)) {
        query.reset();
        query.bind(1, std::int64_t{n});
        query.bind(2, fromMs);
        query.bind(3, toMs);
        while (query.row())
            rows.push_back(periodOf(query, period == Period::Minutes ? kMinuteMs : kHourMs));
    }
    return Rows::success(std::move(rows));
}

Result<std::vector<Event>> HistoryFile::events(const std::vector<int>& instruments, std::int64_t fromMs,
                                               std::int64_t toMs) const
{
    using Events = Result<std::vector<Event>>;
    const Statement query(db_, "SELECT kind, instrument, what, from_ms, to_ms FROM events WHERE from_ms < ?2"
                               " AND (to_ms IS NULL OR to_ms >= ?1) ORDER BY from_ms, id");
    if (!query.ok())
        return Events::failure(fault()->message);
    query.bind(1, fromMs);
    query.bind(2, toMs);
    std::vector<Event> events;
    while (query.row()) {
        Event event;
        event.kind = kindNamed(query.text(0)).value_or(EventKind::StationRun);
        event.instrument = static_cast<int>(query.integer(1));
        event.what = query.text(2);
        event.fromMs = query.integer(3);
        if (!query.null(4))
            event.toMs = query.integer(4);
        const bool wanted = instruments.empty() || event.instrument == 0 ||
                            std::find(instruments.begin(), instruments.end(), event.instrument) != instruments.end();
        if (wanted)
            events.push_back(std::move(event));
    }
    return Events::success(std::move(events));
}

Result<std::vector<DayRow>> HistoryFile::days(const std::vector<int>& instruments, const std::string& fromDay,
                                              const std::string& toDay) const
{
    using Days = Result<std::vector<DayRow>>;
    const Statement query(db_, "SELECT instrument, day, first_forward, last_forward, first_reverse, last_reverse,"
                               " first_ms, last_ms, answered, alarms, forward_drop, reverse_drop FROM days"
                               " WHERE instrument = ?1 AND day >= ?2 AND day <= ?3 ORDER BY day");
    if (!query.ok())
        return Days::failure(fault()->message);
    std::vector<DayRow> days;
    for (const int n : instrumentsOrAll(instruments)) {
        query.reset();
        query.bind(1, std::int64_t{n});
        query.bind(2, fromDay);
        query.bind(3, toDay);
        while (query.row()) {
            DayRow day = dayOf(query);
            days.push_back(std::move(day));
        }
    }
    return Days::success(std::move(days));
}

}  // namespace lumo::history

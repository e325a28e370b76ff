#pragma once
// The history file "history.db", an SQLite database in WAL mode beside the
// settings file in use: minutes (kept 90 days), hours and days (kept as
// many years as the settings say), events. One batch goes in as one
// transaction, synchronous, so a power cut loses at most the minute under
// way. Used by the writer's thread, by the readers and by lumohistory;
// nothing here touches lumo.mdb.

#include "records.h"
#include "status.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace lumo::history {

// Why a history file could not be used, as SQLite tells it.
struct FileFault {
    enum class Kind { Full, ReadOnly, Damaged, Other } kind = Kind::Other;
    std::string message;  // SQLite's text, with the file's path
};

class HistoryFile {
public:
    HistoryFile();
    ~HistoryFile();
    HistoryFile(const HistoryFile&) = delete;
    HistoryFile& operator=(const HistoryFile&) = delete;

    // For writing: the file is made if missing, with its tables.
    std::optional<FileFault> openForWriting(const std::string& path);
    // For reading only: a missing file is a fault, nothing is made.
    std::optional<FileFault> openForReading(const std::string& path);
    void close();
    const std::string& path() const { return path_; }

    // One transaction: all of the batch, or none of it.
    std::optional<FileFault> write(const Batch& batch);
    // What the transactions wrote ahead goes into the file itself (they
    // never do that themselves, to stay short).
    std::optional<FileFault> checkpoint();
    // Minutes older than 90 days go; hours, days and events older than
    // `keepYears` go.
    std::optional<FileFault> dropOld(std::int64_t nowMs, int keepYears, const std::string& oldestDayKept);
    // Events that were never closed (the station stopped without its end
    // being written) end where the last batch was written.
    std::optional<FileFault> closeDanglingEvents();

    // By instrument, then time; `instruments` empty: all.
    Result<std::vector<PeriodRow>> periods(Period period, const std::vector<int>& instruments, std::int64_t fromMs,
                                           std::int64_t toMs) const;
    // Events that overlap [fromMs, toMs), by start.
    Result<std::vector<Event>> events(const std::vector<int>& instruments, std::int64_t fromMs, std::int64_t toMs) const;
    // Days from `fromDay` to `toDay` (YYYY-MM-DD), both included.
    Result<std::vector<DayRow>> days(const std::vector<int>& instruments, const std::string& fromDay,
                                     const std::string& toDay) const;

private:
    std::optional<FileFault> open(const std::string& path, bool writing);
    std::optional<FileFault> fault() const;
    bool execute(const char* sql) const;

    struct Writing;
    std::unique_ptr<Writing> writing_;
    sqlite3* db_ = nullptr;
    std::string path_;
};

}  // namespace lumo::history

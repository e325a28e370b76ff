#pragma once
// The settings file "lumo.mdb", kept as an SQLite database: table "lumoe",
// first row, fields com, timer, num and Settings. It lies beside the program
// or in the machine's data directory (settingsplaces.h).
//
// Each load or save opens its own connection read-write without ever creating
// the file, works on the first row and closes everything before it returns.
// A locked file gives up after about a second instead of hanging the user
// interface thread.

#include <string>

#include "settingsplaces.h"
#include "settingsstore.h"

namespace lumo {

class SqliteSettingsStore : public SettingsStore {
public:
    // The file in one directory: <directory>/lumo.mdb.
    explicit SqliteSettingsStore(const std::string& directory);
    // The file beside the program when there is one, else the one in the
    // data directory; chosen once, so a save goes where the load read.
    explicit SqliteSettingsStore(const SettingsPlaces& places);

    const std::string& filePath() const { return path_; }

    // Reads timer, num, com and Settings of the first row, each on its own:
    // one missing, null or unreadable field fails alone.
    StoreOutcome load() override;

    // One transaction: timer, num and Settings are written (each its own
    // step), com only for a port entry "com1".."com10", the four fields are
    // read back, then the row is committed. A failure of the file itself
    // (read-only, no journal beside it, locked) rolls the whole transaction
    // back, so a failed save leaves the file as it was.
    StoreOutcome save(const SettingsEdit& edit) override;

    Result<std::optional<PublishRow>> loadPublishing() override;
    Result<HistoryRow> loadHistory() override;

private:
    std::string path_;
    std::string missingCause_;
};

}  // namespace lumo

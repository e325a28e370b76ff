#pragma once
// The settings file: table "lumoe", first row, fields com, timer, num and
// Settings, each read as text. Every operation opens the file, works on the
// first row and closes it again; nothing stays open in between. The store
// never creates the file, the table or the row.

#include "historysettings.h"
#include "publishsettings.h"
#include "status.h"

#include <optional>
#include <string>
#include <vector>

namespace lumo {

struct SettingsRecord {
    // Each field's text, or nothing when it could not be read.
    std::optional<std::string> timer;
    std::optional<std::string> num;
    std::optional<std::string> com;
    std::optional<std::string> settings;
};

struct StoreOutcome {
    SettingsRecord fields;
    // Every failed step, in the order they happened; the last one is the one
    // start-up reports.
    std::vector<std::string> failures;
    // Load: the failure in the operator's words when the store can tell
    // (the file is missing), else empty.
    std::string cause{};
    // Save only: some field of the edit reached the file (written and
    // committed). A save with failures may still have stored the rest.
    bool stored = false;

    bool ok() const { return failures.empty(); }
};

struct SettingsEdit {
    std::string interval;   // -> timer
    std::string count;      // -> num
    std::string baud;       // -> Settings
    std::string portEntry;  // "com1".."com10" -> com as the number; anything else leaves com
};

class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    virtual StoreOutcome load() = 0;
    // Writes the edit into the first row in one transaction and returns the
    // four fields as they are about to be stored (read back before the
    // commit). A field that cannot be written (a constraint of its own) is
    // passed over and the others are still committed; a save that cannot
    // commit, or whose file cannot be written at all, changes nothing.
    virtual StoreOutcome save(const SettingsEdit& edit) = 0;

    // The optional table "publish": nothing when the file has none (or no
    // row); a failure that says what could not be read. Never creates it.
    virtual Result<std::optional<PublishRow>> loadPublishing()
    {
        return Result<std::optional<PublishRow>>::success(std::nullopt);
    }
    // The optional table "history": its first row's fields, empty when the
    // file has none. Never creates it.
    virtual Result<HistoryRow> loadHistory() { return Result<HistoryRow>::success(HistoryRow{}); }
};

}  // namespace lumo

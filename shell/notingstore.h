#pragma once
// The settings store as the station uses it, telling which settings a save
// changed (for the history's events): the four fields before and after, in
// the editor's words, "发送间隔 200→300，仪表数 13→20". Everything else
// passes through unchanged.

#include "settingsstore.h"

#include <functional>
#include <string>

namespace lumo {

class NotingStore : public SettingsStore {
public:
    explicit NotingStore(SettingsStore& store) : store_(store) {}

    // Told after a save that stored a change; nothing for a save that
    // changed nothing.
    void setOnChanged(std::function<void(const std::string& detail)> onChanged) { onChanged_ = std::move(onChanged); }

    StoreOutcome load() override;
    StoreOutcome save(const SettingsEdit& edit) override;
    Result<std::optional<PublishRow>> loadPublishing() override { return store_.loadPublishing(); }
    Result<HistoryRow> loadHistory() override { return store_.loadHistory(); }

private:
    SettingsStore& store_;
    SettingsRecord known_;
    std::function<void(const std::string&)> onChanged_;
};

// What differs between two records, in words; empty when nothing does.
std::string changedSettings(const SettingsRecord& before, const SettingsRecord& after);

}  // namespace lumo

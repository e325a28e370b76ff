#include "notingstore.h"

namespace lumo {

std::string changedSettings(const SettingsRecord& before, const SettingsRecord& after)
{
    const struct {
        const char* caption;
        const std::optional<std::string> SettingsRecord::*field;
    } fields[] = {
        {"发送间隔", &SettingsRecord::timer},
        {"仪表数", &SettingsRecord::num},
        {"com端口", &SettingsRecord::com},
        {"通讯速率", &SettingsRecord::settings},
    };
    std::string detail;
    for (const auto& [caption, field] : fields) {
        const auto& was = before.*field;
        const auto& now = after.*field;
        if (!now || was == now)
            continue;
        if (!detail.empty())
            detail += "，";
        detail += std::string(caption) + " " + was.value_or("?") + "→" + *now;
    }
    return detail;
}

StoreOutcome NotingStore::load()
{
    StoreOutcome outcome = store_.load();
    known_ = outcome.fields;
    return outcome;
}

StoreOutcome NotingStore::save(const SettingsEdit& edit)
{
    StoreOutcome outcome = store_.save(edit);
    if (!outcome.stored)
        return outcome;
    const std::string detail = changedSettings(known_, outcome.fields);
    known_ = outcome.fields;
    if (!detail.empty() && onChanged_)
        onChanged_(detail);
    return outcome;
}

}  // namespace lumo

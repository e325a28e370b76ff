#include "publishsettings.h"

#include "text.h"

#include <charconv>

namespace lumo {

namespace {

// A topic level: MQTT forbids '/', '+' and '#' in it; keep it to what a
// dashboard and a shell take without quoting.
bool isStationName(std::string_view name)
{
    if (name.empty() || name.size() > 64)
        return false;
    for (const char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                           c == '-' || c == '.';
        if (!plain)
            return false;
    }
    return true;
}

bool isHostName(std::string_view host)
{
    if (host.empty() || host.size() > 253)
        return false;
    for (const char c : host)
        if (c == ' ' || c == '\t' || c == '/' || static_cast<unsigned char>(c) < 0x21)
            return false;
    return true;
}

// The operator's words first, then the field as the file holds it.
Result<std::optional<PublishSettings>> wrong(const std::string& explained, const std::string& detail)
{
    return Result<std::optional<PublishSettings>>::failure(explained + "（publish settings: " + detail + "）");
}

}  // namespace

Result<std::optional<PublishSettings>> publishSettingsOf(const PublishRow& row)
{
    const std::string enabled(trimmed(row.enabled.value_or("1")));
    if (enabled == "0")
        return Result<std::optional<PublishSettings>>::success(std::nullopt);
    if (enabled != "1")
        return wrong("字段 enabled 只能是 1 或 0", "enabled is \"" + enabled + "\", not 1 or 0");

    PublishSettings settings;
    settings.host = std::string(trimmed(row.host.value_or("")));
    if (!isHostName(settings.host))
        return wrong("字段 host 不是主机名或地址", "host \"" + settings.host + "\" is not a host name or address");
    settings.station = std::string(trimmed(row.station.value_or("")));
    if (!isStationName(settings.station))
        return wrong("字段 station 须为 1 到 64 个字母、数字、“_”、“-”或“.”",
                     "station \"" + settings.station + "\" must be 1 to 64 letters, digits, '_', '-' or '.'");
    settings.username = row.username.value_or("");
    settings.password = row.password.value_or("");
    if (!settings.password.empty() && settings.username.empty())
        return wrong("有密码却没有用户名", "a password is given without a user name");
    settings.caFile = std::string(trimmed(row.cafile.value_or("")));
    settings.port = settings.tls() ? 8883 : 1883;
    const std::string port(trimmed(row.port.value_or("")));
    if (!port.empty()) {
        int number = 0;
        const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
        if (error != std::errc() || end != port.data() + port.size() || number < 1 || number > 65535)
            return wrong("字段 port 须为 1 到 65535 的整数", "port \"" + port + "\" is not 1..65535");
        settings.port = number;
    }
    return Result<std::optional<PublishSettings>>::success(settings);
}

}  // namespace lumo

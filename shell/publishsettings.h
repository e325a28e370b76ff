#pragma once
// Publishing to the plant network, as the settings file configures it: an
// optional second table "publish", first row, fields enabled, host, port,
// station, username, password and cafile, read as text. No table, no row or
// enabled 0 means no publishing. The password goes to the broker and
// nowhere else: no description here ever holds it.

#include "status.h"

#include <optional>
#include <string>

namespace lumo {

// The fields as the file holds them; nothing for a missing or null field.
struct PublishRow {
    std::optional<std::string> enabled, host, port, station, username, password, cafile;
};

struct PublishSettings {
    std::string host;
    int port = 1883;  // 8883 with TLS when the row names no port
    std::string station;  // the topics' second level
    std::string username;
    std::string password;
    std::string caFile;   // TLS, verified against this CA, when not empty

    bool tls() const { return !caFile.empty(); }
};

// Nothing when publishing is off; a failure that says which field is wrong
// and why.
Result<std::optional<PublishSettings>> publishSettingsOf(const PublishRow& row);

}  // namespace lumo

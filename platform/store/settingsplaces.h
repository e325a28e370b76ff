#pragma once
// Where a station's settings file "lumo.mdb" is. A file beside the program
// wins (a portable copy, a build tree, the tests); an installed station has
// none there and keeps it in the machine's data directory for the program,
// which holds nothing that runs (datadirectory.h).

#include <string>

namespace lumo {

struct SettingsPlaces {
    std::string programDirectory;
    std::string dataDirectory;
};

// <programDirectory>/lumo.mdb when it exists, else <dataDirectory>/lumo.mdb;
// absolute, so failures name it in full.
std::string settingsFileOf(const SettingsPlaces& places);

// The operator's words when the file is in neither place: both are named.
std::string missingSettingsCause(const SettingsPlaces& places);

// <directory>/lumo.mdb, absolute.
std::string settingsFileIn(const std::string& directory);
bool settingsFileExists(const std::string& path);

}  // namespace lumo

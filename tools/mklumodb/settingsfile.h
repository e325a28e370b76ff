#pragma once
// Creation of a settings file "lumo.mdb" for a fresh installation: table
// lumoe (com INTEGER, timer TEXT, num TEXT, Settings TEXT) holding one row.
// The programs themselves never create this file; this build-time tool does.

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "status.h"

namespace lumo::mklumodb {

struct SettingsRow {
    int com = 1;                   // port COM1
    std::string timer = "200";     // send interval, milliseconds
    std::string num = "13";        // instruments: one page full
    std::string settings = "9600"; // baud rate
};

// What to do when the target file already exists.
enum class Existing {
    Refuse,   // default: fail and leave it alone
    Replace,  // --force
    Keep,     // --if-missing: succeed without touching it
};

// The optional table "publish": the station's MQTT broker.
struct PublishRow {
    std::string host;
    int port = 0;  // 0: the programs' default (1883, 8883 with TLS)
    std::string station;
    std::string username, password, cafile;
};

struct Options {
    std::string path;
    SettingsRow row;
    Existing existing = Existing::Refuse;
    std::optional<PublishRow> publish;
    // Where the broker's password is to be read from: a file, or "-" for
    // standard input; never the command line itself.
    std::optional<std::string> passwordFile;
    // The optional table "history": written only when asked for.
    struct History {
        bool enabled = true;
        int keepYears = 10;
    };
    std::optional<History> history;
};

// The command line without the program name:
//   [--force | --if-missing] [--publish HOST[:PORT] STATION [--publish-user U]
//   [--publish-password-file FILE|-] [--publish-ca FILE]]
//   [--history-years N | --no-history] <path> [com timer num Settings]
Result<Options> parseArguments(const std::vector<std::string>& arguments);

// The password: the first line of the file, or of `in` for "-", without its
// line end; an empty one is refused.
Result<std::string> readPassword(const std::string& file, std::istream& in);

std::string usage();

// Builds the file under a temporary name beside the target and renames it
// into place, so an interrupted run never leaves a half-written settings
// file; its rights are set before the rename (filerights.h).
Status writeSettingsFile(const Options& options);

}  // namespace lumo::mklumodb

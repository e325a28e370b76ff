#include "settingsfile.h"

#include <sqlite3.h>

#include <charconv>
#include <filesystem>
#include <fstream>
#include <istream>
#include <system_error>

#include "filerights.h"

#include <unistd.h>

namespace lumo::mklumodb {

namespace {

constexpr const char* kSchema = "create table lumoe (com INTEGER, timer TEXT, num TEXT, Settings TEXT)";
constexpr const char* kInsert = "insert into lumoe (com, timer, num, Settings) values (?1, ?2, ?3, ?4)";

// The programs hold com as a 16-bit signed integer.
Result<int> portNumber(const std::string& text)
{
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || value < -32768 || value > 32767)
        return Result<int>::failure("com must be a 16-bit integer, not \"" + text + "\"");
    return Result<int>::success(value);
}

Status createTable(sqlite3* db)
{
    if (sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK)
        return Status::failure(sqlite3_errmsg(db));
    return Status::success();
}

Status insertRow(sqlite3* db, const SettingsRow& row)
{
    sqlite3_stmt* insert = nullptr;
    int rc = sqlite3_prepare_v2(db, kInsert, -1, &insert, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_bind_int(insert, 1, row.com);
        sqlite3_bind_text(insert, 2, row.timer.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 3, row.num.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 4, row.settings.c_str(), -1, SQLITE_TRANSIENT);
        rc = sqlite3_step(insert) == SQLITE_DONE ? SQLITE_OK : SQLITE_ERROR;
    }
    Status status = rc == SQLITE_OK ? Status::success() : Status::failure(sqlite3_errmsg(db));
    sqlite3_finalize(insert);
    return status;
}

Status createPublishTable(sqlite3* db, const PublishRow& publish)
{
    if (sqlite3_exec(db,
                     "create table publish (enabled INTEGER, host TEXT, port INTEGER, station TEXT, username TEXT, "
                     "password TEXT, cafile TEXT)",
                     nullptr, nullptr, nullptr) != SQLITE_OK)
        return Status::failure(sqlite3_errmsg(db));
    sqlite3_stmt* insert = nullptr;
    int rc = sqlite3_prepare_v2(db, "insert into publish values (1, ?1, ?2, ?3, ?4, ?5, ?6)", -1, &insert, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_bind_text(insert, 1, publish.host.c_str(), -1, SQLITE_TRANSIENT);
        if (publish.port > 0)
            sqlite3_bind_int(insert, 2, publish.port);
        sqlite3_bind_text(insert, 3, publish.station.c_str(), -1, SQLITE_TRANSIENT);
        int column = 4;
        for (const std::string* text : {&publish.username, &publish.password, &publish.cafile}) {
            if (!text->empty())
                sqlite3_bind_text(insert, column, text->c_str(), -1, SQLITE_TRANSIENT);
            ++column;
        }
        rc = sqlite3_step(insert) == SQLITE_DONE ? SQLITE_OK : SQLITE_ERROR;
    }
    Status status = rc == SQLITE_OK ? Status::success() : Status::failure(sqlite3_errmsg(db));
    sqlite3_finalize(insert);
    return status;
}

Status createHistoryTable(sqlite3* db, const Options::History& history)
{
    const std::string sql = "create table history (enabled INTEGER, keep_years INTEGER); insert into history values (" +
                            std::to_string(history.enabled ? 1 : 0) + ", " + std::to_string(history.keepYears) + ")";
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
        return Status::failure(std::string("table history: ") + sqlite3_errmsg(db));
    return Status::success();
}

Status createDatabase(const std::string& path, const SettingsRow& row, const std::optional<PublishRow>& publish,
                      const std::optional<Options::History>& history)
{
    sqlite3* db = nullptr;
    Status status = Status::success();
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
        status = Status::failure(db ? sqlite3_errmsg(db) : "out of memory");
    if (status.ok())
        status = createTable(db);
    if (status.ok())
        status = insertRow(db, row);
    if (status.ok() && publish)
        status = createPublishTable(db, *publish);
    if (status.ok() && history)
        status = createHistoryTable(db, *history);
    if (sqlite3_close(db) != SQLITE_OK && status.ok())
        status = Status::failure("closing failed");
    return status;
}

}  // namespace

std::string usage()
{
    return "usage: mklumodb [--force | --if-missing] [--publish HOST[:PORT] STATION [--publish-user USER]\n"
           "                [--publish-password-file FILE|-] [--publish-ca FILE]]\n"
           "                [--history-years N | --no-history] <path> [com timer num Settings]\n"
           "Creates a settings file with table lumoe and one row (default: 1 200 13 9600).\n"
           "An existing file is refused; --force replaces it (keeping its mode and group),\n"
           "--if-missing keeps it.\n"
           "--publish adds table publish: the station publishes to that MQTT broker\n"
           "as lumoscan/STATION/...; --publish-ca turns TLS on, verified against FILE.\n"
           "The password is the first line of FILE, or of standard input for -.\n"
           "--history-years N adds table history: hourly rows, daily volumes and events are\n"
           "kept N years (1..100; without the table 10); --no-history: no history.db at all.\n";
}

Result<Options> parseArguments(const std::vector<std::string>& arguments)
{
    Options options;
    std::vector<std::string> positional;
    PublishRow publish;
    bool publishing = false, publishDetail = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const auto value = [&](std::size_t ahead) -> const std::string* {
            return i + ahead < arguments.size() ? &arguments[i + ahead] : nullptr;
        };
        if (argument == "--force") {
            options.existing = Existing::Replace;
        } else if (argument == "--if-missing") {
            options.existing = Existing::Keep;
        } else if (argument == "--publish") {
            if (!value(1) || !value(2))
                return Result<Options>::failure("--publish takes HOST[:PORT] and STATION");
            const std::string& broker = *value(1);
            const auto colon = broker.rfind(':');
            publish.host = broker.substr(0, colon);
            if (colon != std::string::npos) {
                const std::string port = broker.substr(colon + 1);
                const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), publish.port);
                if (error != std::errc() || end != port.data() + port.size() || publish.port < 1 || publish.port > 65535)
                    return Result<Options>::failure("--publish: the port of \"" + broker + "\" is not 1..65535");
            }
            publish.station = *value(2);
            publishing = true;
            i += 2;
        } else if (argument == "--publish-password") {
            return Result<Options>::failure(
                "--publish-password is not taken: a password on the command line shows in the process list and "
                "the shell's history; give it with --publish-password-file FILE, or --publish-password-file - "
                "to read it from standard input");
        } else if (argument == "--publish-user" || argument == "--publish-password-file" || argument == "--publish-ca") {
            if (!value(1))
                return Result<Options>::failure(argument + " takes a value");
            if (argument == "--publish-password-file")
                options.passwordFile = *value(1);
            else
                (argument == "--publish-user" ? publish.username : publish.cafile) = *value(1);
            publishDetail = true;
            i += 1;
        } else if (argument == "--history-years" || argument == "--no-history") {
            if (options.history)
                return Result<Options>::failure("--history-years and --no-history exclude each other, and each goes once");
            Options::History history;
            if (argument == "--no-history") {
                history.enabled = false;
            } else {
                const std::string* years = value(1);
                const auto [end, error] = years ? std::from_chars(years->data(), years->data() + years->size(),
                                                                  history.keepYears)
                                                : std::from_chars_result{nullptr, std::errc::invalid_argument};
                if (error != std::errc() || end != years->data() + years->size() || history.keepYears < 1 ||
                    history.keepYears > 100)
                    return Result<Options>::failure("--history-years takes a number of years, 1..100");
                i += 1;
            }
            options.history = history;
        } else if (argument.rfind("--", 0) == 0) {
            return Result<Options>::failure("unknown option " + argument);
        } else {
            positional.push_back(argument);
        }
    }
    if (publishDetail && !publishing)
        return Result<Options>::failure("--publish-user, --publish-password-file and --publish-ca go with --publish");
    if (options.passwordFile && publish.username.empty())
        return Result<Options>::failure("--publish-password-file goes with --publish-user: the broker takes a password "
                                        "only with a user name");
    if (publishing)
        options.publish = publish;
    if (positional.size() != 1 && positional.size() != 5)
        return Result<Options>::failure("expected a path, optionally followed by com timer num Settings");
    options.path = positional[0];
    if (positional.size() == 5) {
        const Result<int> com = portNumber(positional[1]);
        if (!com.ok())
            return Result<Options>::failure(com.error());
        options.row = SettingsRow{com.value(), positional[2], positional[3], positional[4]};
    }
    return Result<Options>::success(options);
}

Result<std::string> readPassword(const std::string& file, std::istream& in)
{
    std::ifstream opened;
    if (file != "-") {
        opened.open(file, std::ios::binary);
        if (!opened)
            return Result<std::string>::failure("cannot read the password file " + file);
    }
    std::string password;
    std::getline(file == "-" ? in : opened, password);
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    if (password.empty())
        return Result<std::string>::failure("no password in " + (file == "-" ? std::string("standard input") : file));
    return Result<std::string>::success(password);
}

Status writeSettingsFile(const Options& options)
{
    namespace fs = std::filesystem;
    std::error_code error;
    if (fs::exists(fs::symlink_status(options.path, error))) {
        if (options.existing == Existing::Keep)
            return Status::success();
        if (options.existing == Existing::Refuse)
            return Status::failure(options.path + " exists; --force replaces it");
    }
    const std::string temporary = options.path + ".tmp" + std::to_string(::getpid());
    fs::remove(temporary, error);
    const bool holdsPassword = options.publish && !options.publish->password.empty();
    Status status = createPrivateFile(temporary);
    if (status.ok())
        status = createDatabase(temporary, options.row, options.publish, options.history);
    if (status.ok())
        status = giveSettingsRights(temporary, options.path, holdsPassword);
    if (status.ok()) {
        fs::rename(temporary, options.path, error);
        if (error)
            status = Status::failure("renaming " + temporary + ": " + error.message());
    }
    if (!status.ok()) {
        fs::remove(temporary, error);
        return Status::failure(options.path + ": " + status.error());
    }
    return status;
}

}  // namespace lumo::mklumodb

#include "settingsfile.h"

#include <sqlite3.h>

#include <charconv>
#include <filesystem>
#include <system_error>

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

Status createDatabase(const std::string& path, const SettingsRow& row)
{
    sqlite3* db = nullptr;
    Status status = Status::success();
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
        status = Status::failure(db ? sqlite3_errmsg(db) : "out of memory");
    if (status.ok())
        status = createTable(db);
    if (status.ok())
        status = insertRow(db, row);
    if (sqlite3_close(db) != SQLITE_OK && status.ok())
        status = Status::failure("closing failed");
    return status;
}

}  // namespace

std::string usage()
{
    return "usage: mklumodb [--force | --if-missing] <path> [com timer num Settings]\n"
           "Creates a settings file with table lumoe and one row (default: 1 200 13 9600).\n"
           "An existing file is refused; --force replaces it, --if-missing keeps it.\n";
}

Result<Options> parseArguments(const std::vector<std::string>& arguments)
{
    Options options;
    std::vector<std::string> positional;
    for (const std::string& argument : arguments) {
        if (argument == "--force")
            options.existing = Existing::Replace;
        else if (argument == "--if-missing")
            options.existing = Existing::Keep;
        else if (argument.rfind("--", 0) == 0)
            return Result<Options>::failure("unknown option " + argument);
        else
            positional.push_back(argument);
    }
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

Status writeSettingsFile(const Options& options)
{
    namespace fs = std::filesystem;
    std::error_code error;
    if (fs::exists(options.path, error)) {
        if (options.existing == Existing::Keep)
            return Status::success();
        if (options.existing == Existing::Refuse)
            return Status::failure(options.path + " exists; --force replaces it");
    }
    const std::string temporary = options.path + ".tmp" + std::to_string(::getpid());
    fs::remove(temporary, error);
    Status status = createDatabase(temporary, options.row);
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

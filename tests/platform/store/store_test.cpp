// The settings store and the default settings file, against real SQLite
// files in a fresh temporary directory per test.

#include <gtest/gtest.h>

#include "heldfile.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "settingsfile.h"
#include "sqlitesettingsstore.h"

namespace fs = std::filesystem;
using lumo::SettingsEdit;
using lumo::SqliteSettingsStore;
using lumo::StoreOutcome;

namespace {

std::string fileBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const fs::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// Runs SQL on a file the test sets up, creating it if need be.
void runSql(const fs::path& path, const std::string& sql)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.string().c_str(), &db), SQLITE_OK);
    char* message = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
    const std::string error = message ? message : "";
    sqlite3_free(message);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << error << " in: " << sql;
}

using lumo::testing::Holder;
using lumo::testing::setImmutable;

constexpr const char* kStandardTable =
    "create table lumoe (com INTEGER, timer TEXT, num TEXT, Settings TEXT);"
    "insert into lumoe values (3, '200', '13', '9600');";

const SettingsEdit kEdit{"0300", "20", "19200", "com4"};

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::random_device random;
        fs::path made;
        for (int attempt = 0; attempt < 100 && made.empty(); ++attempt) {
            const fs::path candidate = fs::temp_directory_path() / ("lumo-store-" + std::to_string(random()));
            if (fs::create_directory(candidate))
                made = candidate;
        }
        ASSERT_FALSE(made.empty());
        dir_ = fs::canonical(made);
        file_ = dir_ / "lumo.mdb";
    }
    void TearDown() override
    {
        setImmutable(file_.string(), false);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    std::string failurePrefix() const { return "settings file " + file_.string() + ": "; }
    std::vector<fs::path> directoryEntries() const
    {
        return std::vector<fs::path>(fs::directory_iterator(dir_), fs::directory_iterator());
    }
    StoreOutcome load() { return SqliteSettingsStore(dir_.string()).load(); }
    StoreOutcome save(const SettingsEdit& edit) { return SqliteSettingsStore(dir_.string()).save(edit); }

    // A save that must fail and leave the file exactly as it was.
    void expectSaveChangesNothing(const std::string& expectedFailureEnd)
    {
        const std::string before = fileBytes(file_);
        const StoreOutcome outcome = save(kEdit);
        ASSERT_FALSE(outcome.ok());
        bool named = false;
        for (const std::string& failure : outcome.failures) {
            EXPECT_EQ(failure.rfind(failurePrefix(), 0), 0u) << failure;
            named = named || failure.ends_with(expectedFailureEnd);
        }
        EXPECT_TRUE(named) << "no failure ends with " << expectedFailureEnd;
        EXPECT_EQ(fileBytes(file_), before);
        EXPECT_EQ(directoryEntries(), std::vector<fs::path>{file_}) << "journal left behind";
    }

    fs::path dir_;
    fs::path file_;
};

void expectRecord(const StoreOutcome& outcome, std::optional<std::string> timer, std::optional<std::string> num,
                  std::optional<std::string> com, std::optional<std::string> settings)
{
    EXPECT_EQ(outcome.fields.timer, timer);
    EXPECT_EQ(outcome.fields.num, num);
    EXPECT_EQ(outcome.fields.com, com);
    EXPECT_EQ(outcome.fields.settings, settings);
}

// ---- opening ----

TEST_F(StoreTest, FilePathIsTheAbsolutePathOfLumoMdb)
{
    EXPECT_EQ(SqliteSettingsStore(dir_.string() + "/").filePath(), file_.string());
}

TEST_F(StoreTest, MissingFileFailsAndNothingIsCreated)
{
    const StoreOutcome outcome = load();
    EXPECT_EQ(outcome.failures, std::vector<std::string>{failurePrefix() + "unable to open database file"});
    expectRecord(outcome, std::nullopt, std::nullopt, std::nullopt, std::nullopt);
    EXPECT_FALSE(save(kEdit).ok());
    EXPECT_TRUE(directoryEntries().empty());
}

TEST_F(StoreTest, MissingDirectoryFailsAndNothingIsCreated)
{
    const fs::path missing = dir_ / "gone";
    EXPECT_FALSE(SqliteSettingsStore(missing.string()).load().ok());
    EXPECT_FALSE(SqliteSettingsStore(missing.string()).save(kEdit).ok());
    EXPECT_FALSE(fs::exists(missing));
}

TEST_F(StoreTest, FileThatIsNotADatabaseFailsAtOnceAndStaysAsItWas)
{
    std::string jet("\x00\x01\x00\x00Standard Jet DB\x00", 20);
    jet.resize(4096, '\x5a');
    const std::string cases[] = {jet, "com=1\ntimer=200\nnum=13\nSettings=9600\n", std::string(3000, 'x'), "hi"};
    for (const std::string& content : cases) {
        writeBytes(file_, content);
        const StoreOutcome outcome = load();
        EXPECT_EQ(outcome.failures, std::vector<std::string>{failurePrefix() + "file is not a database"});
        expectSaveChangesNothing(": file is not a database");
    }
}

TEST_F(StoreTest, ZeroByteFileIsAnEmptyDatabase)
{
    writeBytes(file_, "");
    EXPECT_EQ(load().failures, std::vector<std::string>{failurePrefix() + "no such table: lumoe"});
    expectSaveChangesNothing("no such table: lumoe");
    EXPECT_EQ(fs::file_size(file_), 0u);
}

// "lumoe" as a view that never ends: the load gives up instead of hanging.
TEST_F(StoreTest, EndlessViewFailsInsteadOfHanging)
{
    runSql(file_, "create view lumoe as with recursive n(i) as (select 1 union all select i + 1 from n)"
                  " select i as com, 'x' as timer, 'y' as num, 'z' as Settings from n order by i desc");
    const auto started = std::chrono::steady_clock::now();
    const StoreOutcome outcome = load();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    ASSERT_FALSE(outcome.failures.empty());
    EXPECT_NE(outcome.failures.back().find("interrupted"), std::string::npos) << outcome.failures.back();
}

TEST_F(StoreTest, EmptyTableFails)
{
    runSql(file_, "create table lumoe (com INTEGER, timer TEXT, num TEXT, Settings TEXT)");
    EXPECT_EQ(load().failures, std::vector<std::string>{failurePrefix() + "table lumoe has no row"});
    expectSaveChangesNothing(": table lumoe has no row");
}

// ---- reading the fields ----

struct FieldCase {
    const char* name;
    const char* sql;
    std::optional<std::string> timer, num, com, settings;
    std::vector<std::string> failures;  // after the file prefix, in order
};

const FieldCase kFieldCases[] = {
    {"plain", kStandardTable, "200", "13", "3", "9600", {}},
    {"interval typed with a leading zero stays as typed",
     "create table lumoe (com INTEGER, timer TEXT, num TEXT, Settings TEXT);"
     "insert into lumoe values (1, '0200', '5', '4800');",
     "0200", "5", "1", "4800", {}},
    {"integer columns give their decimal text",
     "create table lumoe (com INTEGER, timer INTEGER, num INTEGER, Settings INTEGER);"
     "insert into lumoe values (10, '0003', 39, 19200);",
     "3", "39", "10", "19200", {}},
    {"a real gives SQLite's text of it",
     "create table lumoe (com REAL, timer REAL, num TEXT, Settings TEXT);"
     "insert into lumoe values (2.0, 200.5, '13', '600');",
     "200.5", "13", "2.0", "600", {}},
    {"a blob of UTF-8 text is that text",
     "create table lumoe (com, timer, num, Settings);"
     "insert into lumoe values (x'37', x'323030', x'e4bbaa', x'');",
     "200", "\xe4\xbb\xaa", "7", "", {}},
    {"a blob that is not text fails that field only",
     "create table lumoe (com, timer, num, Settings);"
     "insert into lumoe values (x'ff', x'3200', x'c0af', x'eda080');",
     std::nullopt, std::nullopt, std::nullopt, std::nullopt,
     {"field \"timer\" does not hold UTF-8 text", "field \"num\" does not hold UTF-8 text",
      "field \"com\" does not hold UTF-8 text", "field \"Settings\" does not hold UTF-8 text"}},
    {"a truncated sequence or a code point above U+10FFFF is not text",
     "create table lumoe (com, timer, num, Settings);"
     "insert into lumoe values (1, x'e4bb', x'f4908080', '9600');",
     std::nullopt, std::nullopt, "1", "9600",
     {"field \"timer\" does not hold UTF-8 text", "field \"num\" does not hold UTF-8 text"}},
    {"text holding bytes that are not UTF-8 is refused too",
     "create table lumoe (com INTEGER, timer TEXT, num TEXT, Settings TEXT);"
     "insert into lumoe values (1, cast(x'3230ff' as text), '13', '9600');",
     std::nullopt, "13", "1", "9600", {"field \"timer\" does not hold UTF-8 text"}},
    {"a null field fails alone",
     "create table lumoe (com INTEGER, timer TEXT, num TEXT, Settings TEXT);"
     "insert into lumoe values (NULL, '200', NULL, '9600');",
     "200", std::nullopt, std::nullopt, "9600", {"field \"num\" is null", "field \"com\" is null"}},
    {"a missing field fails alone",
     "create table lumoe (com INTEGER, timer TEXT, Settings TEXT);"
     "insert into lumoe values (4, '500', '2400');",
     "500", std::nullopt, "4", "2400", {"field \"num\" is missing"}},
    {"field names match regardless of case",
     "create table lumoe (COM INTEGER, Timer TEXT, NUM TEXT, settings TEXT);"
     "insert into lumoe values (5, '250', '26', '1200');",
     "250", "26", "5", "1200", {}},
    {"extra columns and another column order",
     "create table lumoe (id INTEGER PRIMARY KEY, Settings TEXT, note TEXT, num TEXT, timer TEXT, com INTEGER);"
     "insert into lumoe values (7, '14400', 'x', '27', '1000', 6);",
     "1000", "27", "6", "14400", {}},
    {"an empty text is a value, not a failure",
     "create table lumoe (com INTEGER, timer TEXT, num TEXT, Settings TEXT);"
     "insert into lumoe values (1, '', '', '');",
     "", "", "1", "", {}},
    {"several rows: the first one",
     "create table lumoe (com INTEGER, timer TEXT, num TEXT, Settings TEXT);"
     "insert into lumoe values (8, '300', '2', '600');"
     "insert into lumoe values (9, '400', '3', '1200');",
     "300", "2", "8", "600", {}},
};

TEST_F(StoreTest, LoadReadsEachFieldOnItsOwn)
{
    for (const FieldCase& c : kFieldCases) {
        SCOPED_TRACE(c.name);
        fs::remove(file_);
        runSql(file_, c.sql);
        const StoreOutcome outcome = load();
        expectRecord(outcome, c.timer, c.num, c.com, c.settings);
        std::vector<std::string> expected;
        for (const std::string& failure : c.failures)
            expected.push_back(failurePrefix() + failure);
        EXPECT_EQ(outcome.failures, expected);
    }
}

TEST_F(StoreTest, LoadLeavesTheFileAsItWas)
{
    runSql(file_, kStandardTable);
    const std::string before = fileBytes(file_);
    ASSERT_TRUE(load().ok());
    EXPECT_EQ(fileBytes(file_), before);
    EXPECT_EQ(directoryEntries(), std::vector<fs::path>{file_});
}

TEST_F(StoreTest, LoadReadsWhileAnotherProgramIsWritingButNotWhileItHoldsTheFile)
{
    runSql(file_, kStandardTable);
    {
        Holder writer(file_.string(), "BEGIN IMMEDIATE");
        EXPECT_TRUE(load().ok());
    }
    Holder exclusive(file_.string(), "BEGIN EXCLUSIVE");
    EXPECT_EQ(load().failures, std::vector<std::string>{failurePrefix() + "database is locked"});
}

// ---- saving ----

TEST_F(StoreTest, SaveWritesTheEditAndReturnsWhatIsAboutToBeStored)
{
    runSql(file_, kStandardTable);
    const StoreOutcome saved = save(kEdit);
    EXPECT_TRUE(saved.failures.empty()) << saved.failures.front();
    expectRecord(saved, "0300", "20", "4", "19200");
    expectRecord(load(), "0300", "20", "4", "19200");
    EXPECT_EQ(directoryEntries(), std::vector<fs::path>{file_});
}

TEST_F(StoreTest, SaveStoresComAsAnIntegerOnlyForCom1ToCom10)
{
    const struct {
        const char* portEntry;
        const char* storedCom;
    } cases[] = {
        {"com1", "1"}, {"com10", "10"}, {"com7", "7"}, {"com11", "3"}, {"", "3"},
        {"COM5", "3"}, {"com01", "3"}, {"com0", "3"}, {"com 2", "3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.portEntry);
        fs::remove(file_);
        runSql(file_, kStandardTable);
        const StoreOutcome saved = save({"500", "30", "2400", c.portEntry});
        EXPECT_TRUE(saved.ok());
        expectRecord(saved, "500", "30", c.storedCom, "2400");
        expectRecord(load(), "500", "30", c.storedCom, "2400");
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file_.string().c_str(), &db), SQLITE_OK);
    sqlite3_stmt* type = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "select typeof(com) from lumoe", -1, &type, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(type), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(type, 0)), "integer");
    sqlite3_finalize(type);
    sqlite3_close(db);
}

TEST_F(StoreTest, SaveReadsBackWhatTheColumnsMakeOfTheTexts)
{
    runSql(file_,
           "create table lumoe (com INTEGER, timer INTEGER, num TEXT, Settings TEXT);"
           "insert into lumoe values (1, 200, '13', '9600');");
    const StoreOutcome saved = save({"0200", "13", "9600", "com2"});
    EXPECT_TRUE(saved.ok());
    expectRecord(saved, "200", "13", "2", "9600");
}

TEST_F(StoreTest, SaveTouchesOnlyTheFirstRow)
{
    runSql(file_, kFieldCases[13].sql);
    ASSERT_TRUE(save(kEdit).ok());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file_.string().c_str(), &db), SQLITE_OK);
    sqlite3_stmt* rows = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "select com || ' ' || timer || ' ' || num || ' ' || Settings from lumoe",
                                 -1, &rows, nullptr),
              SQLITE_OK);
    std::vector<std::string> texts;
    while (sqlite3_step(rows) == SQLITE_ROW)
        texts.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(rows, 0)));
    sqlite3_finalize(rows);
    sqlite3_close(db);
    EXPECT_EQ(texts, (std::vector<std::string>{"4 0300 20 19200", "9 400 3 1200"}));
}

// Each field is written on its own: one that cannot be written is passed
// over, and the others are stored when the commit succeeds.
TEST_F(StoreTest, SaveWithAFieldMissingStillStoresTheOthers)
{
    runSql(file_, kFieldCases[9].sql);
    const StoreOutcome outcome = save(kEdit);
    ASSERT_FALSE(outcome.failures.empty());
    EXPECT_EQ(outcome.failures.front(), failurePrefix() + "writing field \"num\": no such column: num");
    expectRecord(outcome, "0300", std::nullopt, "4", "19200");
    StoreOutcome reloaded = load();
    reloaded.failures.clear();
    expectRecord(reloaded, "0300", std::nullopt, "4", "19200");
}

TEST_F(StoreTest, SaveIntoAFileHeldByAnotherProgramFailsAndChangesNothing)
{
    runSql(file_, kStandardTable);
    {
        Holder writer(file_.string(), "BEGIN IMMEDIATE");
        expectSaveChangesNothing(": database is locked");
    }
    expectRecord(load(), "200", "13", "3", "9600");
}

TEST_F(StoreTest, SaveIntoAReadOnlyFileFailsAndChangesNothing)
{
    runSql(file_, kStandardTable);
    fs::permissions(file_, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    // Root writes through chmod 0444; an immutable file stops even root.
#ifdef _WIN32
    const bool root = true;
#else
    const bool root = ::geteuid() == 0;
#endif
    if (root && !setImmutable(file_.string(), true))
        GTEST_SKIP() << "cannot make a file read-only for root here (under Wine as root: never)";
    expectSaveChangesNothing(": attempt to write a readonly database");
    expectRecord(load(), "200", "13", "3", "9600");
}

TEST_F(StoreTest, SaveWhoseOneWriteIsRefusedStillStoresTheOthers)
{
    // The database refuses the Settings write; timer, num and com go in.
    runSql(file_, std::string(kStandardTable)
                      + "create trigger guard before update of Settings on lumoe"
                        " begin select raise(abort, 'baud is locked'); end;");
    const StoreOutcome outcome = save(kEdit);
    ASSERT_EQ(outcome.failures.size(), 1u);
    EXPECT_EQ(outcome.failures[0], failurePrefix() + "writing field \"Settings\": baud is locked");
    expectRecord(load(), "0300", "20", "4", "9600");
}

// ---- the default settings file ----

using lumo::mklumodb::Existing;
using lumo::mklumodb::Options;
using lumo::mklumodb::parseArguments;
using lumo::mklumodb::writeSettingsFile;

TEST(MklumodbArguments, AcceptsAPathAndOptionallyTheFourFields)
{
    const auto defaults = parseArguments({"out/lumo.mdb"});
    ASSERT_TRUE(defaults.ok());
    EXPECT_EQ(defaults.value().path, "out/lumo.mdb");
    EXPECT_EQ(defaults.value().existing, Existing::Refuse);
    EXPECT_EQ(defaults.value().row.com, 1);
    EXPECT_EQ(defaults.value().row.timer, "200");
    EXPECT_EQ(defaults.value().row.num, "13");
    EXPECT_EQ(defaults.value().row.settings, "9600");

    const auto given = parseArguments({"--force", "p", "10", "0200", "39", "19200"});
    ASSERT_TRUE(given.ok());
    EXPECT_EQ(given.value().existing, Existing::Replace);
    EXPECT_EQ(given.value().row.com, 10);
    EXPECT_EQ(given.value().row.timer, "0200");
    EXPECT_EQ(given.value().row.num, "39");
    EXPECT_EQ(given.value().row.settings, "19200");

    EXPECT_EQ(parseArguments({"p", "--if-missing"}).value().existing, Existing::Keep);
}

TEST(MklumodbArguments, RefusesWhatItCannotWrite)
{
    const std::vector<std::vector<std::string>> cases = {
        {}, {"a", "b"}, {"p", "1", "200", "13"}, {"p", "x", "200", "13", "9600"},
        {"p", "3x", "200", "13", "9600"}, {"p", "40000", "200", "13", "9600"}, {"p", "", "200", "13", "9600"},
        {"--bogus", "p"},
    };
    for (const auto& arguments : cases)
        EXPECT_FALSE(parseArguments(arguments).ok()) << arguments.size();
}

// The broker's password never comes on the command line, where the process
// list and the shell's history keep it: the old option says what to use.
TEST(MklumodbArguments, ThePasswordComesFromAFileOrStandardInput)
{
    const struct {
        std::vector<std::string> arguments;
        const char* refusal;  // accepted when empty
        const char* passwordFile = "";
    } cases[] = {
        {{"--publish", "b", "s", "--publish-user", "u", "--publish-password", "secret", "p"},
         "--publish-password is not taken: a password on the command line shows in the process list and the shell's "
         "history; give it with --publish-password-file FILE, or --publish-password-file - to read it from standard "
         "input"},
        {{"--publish", "b", "s", "--publish-password-file", "pw", "p"}, "--publish-password-file goes with --publish-user"},
        {{"--publish-password-file", "pw", "p"}, "--publish-user, --publish-password-file and --publish-ca go with --publish"},
        {{"--publish", "b", "s", "--publish-user", "u", "--publish-password-file", "pw", "p"}, "", "pw"},
        {{"--publish", "b", "s", "--publish-user", "u", "--publish-password-file", "-", "p"}, "", "-"},
        {{"--publish", "b", "s", "--publish-user", "u", "p"}, ""},
    };
    for (const auto& c : cases) {
        const auto parsed = parseArguments(c.arguments);
        if (*c.refusal) {
            ASSERT_FALSE(parsed.ok()) << c.refusal;
            EXPECT_EQ(parsed.error().rfind(c.refusal, 0), 0u) << parsed.error();
        } else {
            ASSERT_TRUE(parsed.ok()) << parsed.error();
            EXPECT_EQ(parsed.value().passwordFile.value_or(""), c.passwordFile);
        }
    }

    std::istringstream typed("from stdin\r\nnext line\n"), nothing("\n");
    EXPECT_EQ(lumo::mklumodb::readPassword("-", typed).value(), "from stdin");
    EXPECT_EQ(lumo::mklumodb::readPassword("-", nothing).error(), "no password in standard input");
    EXPECT_EQ(lumo::mklumodb::readPassword("/nonexistent/pw", nothing).error(),
              "cannot read the password file /nonexistent/pw");
}

TEST_F(StoreTest, MklumodbWritesASettingsFileTheStoreReads)
{
    Options options;
    options.path = file_.string();
    ASSERT_TRUE(writeSettingsFile(options).ok());
    expectRecord(load(), "200", "13", "1", "9600");
    EXPECT_TRUE(save({"0200", "26", "4800", "com9"}).ok());
    expectRecord(load(), "0200", "26", "9", "4800");
    EXPECT_EQ(directoryEntries(), std::vector<fs::path>{file_});
}

// The history's table: mklumodb writes it when asked, the store reads it,
// and a file without it keeps the defaults (kept, 10 years).
TEST_F(StoreTest, TheHistoryTableAsMklumodbWritesItAndTheStoreReadsIt)
{
    const struct {
        std::vector<std::string> arguments;
        bool ok;
        bool enabled = true;
        int years = 10;
    } rows[] = {
        {{}, true},
        {{"--history-years", "25"}, true, true, 25},
        {{"--no-history"}, true, false},
        {{"--history-years", "0"}, false},
        {{"--history-years", "101"}, false},
        {{"--history-years", "ten"}, false},
        {{"--history-years"}, false},
        {{"--no-history", "--history-years", "5"}, false},
    };
    for (const auto& row : rows) {
        std::vector<std::string> arguments = row.arguments;
        arguments.push_back(file_.string());
        const auto options = parseArguments(arguments);
        ASSERT_EQ(options.ok(), row.ok) << arguments.front();
        if (!row.ok)
            continue;
        fs::remove(file_);
        ASSERT_TRUE(writeSettingsFile(options.value()).ok());
        const auto stored = lumo::SqliteSettingsStore(dir_.string()).loadHistory();
        ASSERT_TRUE(stored.ok()) << stored.error();
        const auto settings = lumo::historySettingsOf(stored.value());
        ASSERT_TRUE(settings.ok()) << settings.error();
        EXPECT_EQ(settings.value().enabled, row.enabled);
        EXPECT_EQ(settings.value().keepYears, row.years);
    }
    // What a hand-made table may hold, and what it may not.
    const struct {
        const char* enabled;
        const char* years;
        bool ok;
    } fields[] = {{"1", "10", true}, {" 0 ", "1", true}, {"1", "100", true}, {"2", "10", false},
                  {"yes", "10", false}, {"1", "0", false}, {"1", "12.5", false}, {"1", "", false}};
    for (const auto& f : fields)
        EXPECT_EQ(lumo::historySettingsOf({f.enabled, f.years}).ok(), f.ok) << f.enabled << " " << f.years;
}

TEST_F(StoreTest, MklumodbKeepsAnExistingFileUnlessForced)
{
    runSql(file_, kFieldCases[1].sql);
    const std::string edited = fileBytes(file_);
    Options options;
    options.path = file_.string();

    EXPECT_FALSE(writeSettingsFile(options).ok());
    EXPECT_EQ(fileBytes(file_), edited);

    options.existing = Existing::Keep;
    EXPECT_TRUE(writeSettingsFile(options).ok());
    EXPECT_EQ(fileBytes(file_), edited);

    options.existing = Existing::Replace;
    options.row.com = 2;
    EXPECT_TRUE(writeSettingsFile(options).ok());
    expectRecord(load(), "200", "13", "2", "9600");
    EXPECT_EQ(directoryEntries(), std::vector<fs::path>{file_}) << "temporary file left behind";
}

#ifndef _WIN32
// What mklumodb leaves on disk: a replaced file keeps its mode and group
// (root rewriting an installed station's file must not take it from the
// operators), a new file in a setgid directory is the group's to write, a
// file with a password is nobody else's, and a link planted under the
// temporary name is never written through.
TEST_F(StoreTest, MklumodbGivesTheFileTheRightsItMustHave)
{
    const mode_t mask = ::umask(022);
    const struct {
        const char* name;
        std::optional<mode_t> replaced;  // the mode of the file replaced
        bool setgidDirectory;
        bool password;
        mode_t expected;
    } cases[] = {
        {"replaced, group-writable", 0660, false, false, 0660},
        {"replaced, others may read", 0644, false, false, 0644},
        {"replaced, with a password", 0664, false, true, 0660},
        {"new, plain directory", std::nullopt, false, false, 0644},
        {"new, setgid directory", std::nullopt, true, false, 0660},
        {"new, with a password", std::nullopt, false, true, 0640},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(file_);
        ::chmod(dir_.c_str(), c.setgidDirectory ? 02775 : 0755);
        if (c.replaced) {
            runSql(file_, kStandardTable);
            ::chmod(file_.c_str(), *c.replaced);
        }
        Options options;
        options.path = file_.string();
        options.existing = Existing::Replace;
        if (c.password)
            options.publish = lumo::mklumodb::PublishRow{"broker", 0, "line", "user", "secret", ""};
        ASSERT_TRUE(writeSettingsFile(options).ok());
        struct stat made {};
        ASSERT_EQ(::stat(file_.c_str(), &made), 0);
        EXPECT_EQ(made.st_mode & 07777, c.expected) << std::oct << (made.st_mode & 07777);
        expectRecord(load(), "200", "13", "1", "9600");
    }
    ::chmod(dir_.c_str(), 0755);

    // Someone who may write the directory plants a link where the file is built.
    const fs::path victim = dir_ / "victim";
    writeBytes(victim, "untouched");
    fs::create_symlink(victim, dir_ / ("lumo.mdb.tmp" + std::to_string(::getpid())));
    Options options;
    options.path = file_.string();
    options.existing = Existing::Replace;
    EXPECT_TRUE(writeSettingsFile(options).ok()) << "the planted link is removed, then the file made afresh";
    EXPECT_EQ(fileBytes(victim), "untouched");
    ::umask(mask);
}
#endif

TEST_F(StoreTest, MklumodbIntoAMissingDirectoryFailsAndLeavesNothing)
{
    Options options;
    options.path = (dir_ / "gone" / "lumo.mdb").string();
    EXPECT_FALSE(writeSettingsFile(options).ok());
    EXPECT_TRUE(directoryEntries().empty());
}

// Which settings file a station uses: the one beside the program when there
// is one, else the data directory's; with neither, the message names both.
TEST_F(StoreTest, TheFileBesideTheProgramWinsElseTheDataDirectorys)
{
    const fs::path program = dir_ / "program", data = dir_ / "data";
    fs::create_directories(program);
    fs::create_directories(data);
    const lumo::SettingsPlaces places{program.string(), data.string()};
    const struct {
        const char* name;
        bool beside, inData;
        fs::path used;
    } cases[] = {
        {"beside only", true, false, program / "lumo.mdb"},
        {"data directory only", false, true, data / "lumo.mdb"},
        {"both", true, true, program / "lumo.mdb"},
        {"neither", false, false, data / "lumo.mdb"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(program / "lumo.mdb");
        fs::remove(data / "lumo.mdb");
        if (c.beside)
            runSql(program / "lumo.mdb", kStandardTable);
        if (c.inData)
            runSql(data / "lumo.mdb", kStandardTable);
        SqliteSettingsStore store(places);
        EXPECT_EQ(fs::path(store.filePath()), c.used);
        const StoreOutcome loaded = store.load();
        EXPECT_EQ(loaded.ok(), c.beside || c.inData);
        EXPECT_EQ(loaded.cause, c.beside || c.inData ? ""
                                                     : "找不到设置文件：程序旁边没有 " + (program / "lumo.mdb").string() +
                                                           "，本机的数据目录里也没有 " + (data / "lumo.mdb").string() +
                                                           "。安装包把默认的设置文件放在数据目录里，构建把它放在程序旁边。");
    }
}

// The build places a default file beside this test program, as it does
// beside each monitoring program.
TEST(DefaultSettingsFile, LiesBesideTheExecutableWithTheDefaults)
{
#ifdef _WIN32
    wchar_t program[MAX_PATH];
    const fs::path programDirectory = fs::path(std::wstring(program, GetModuleFileNameW(nullptr, program, MAX_PATH))).parent_path();
#else
    const fs::path programDirectory = fs::read_symlink("/proc/self/exe").parent_path();
#endif
    const StoreOutcome outcome = SqliteSettingsStore(programDirectory.string()).load();
    EXPECT_TRUE(outcome.ok()) << outcome.failures.front();
    expectRecord(outcome, "200", "13", "1", "9600");
}

}  // namespace

// Settings files edited by other means than the program: odd texts, other
// field types, extra columns, a file another program holds, a read-only
// file at save. The real start-up reads them; message boxes go to a fake.

#include "linelog.h"
#include "linerecorder.h"
#include "mainwindow.h"
#include "sqlitesettingsstore.h"
#include "stationrun.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSerialPort>

#include <unistd.h>

#include <gtest/gtest.h>

#include "heldfile.h"
#include <sqlite3.h>


namespace {

using namespace lumo::testing;
using lumo::StartupResult;
using lumo::ValueField;

void runSql(const QString& path, const std::string& sql)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.toLocal8Bit().constData(), &db), SQLITE_OK);
    char* message = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
    const std::string error = message ? message : "";
    sqlite3_free(message);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << error << " in: " << sql;
}

// A settings file with the usual columns and one row of SQL values.
std::string standardFile(const std::string& com, const std::string& timer, const std::string& num,
                         const std::string& baud)
{
    return "create table lumoe (com INTEGER, timer TEXT, num TEXT, Settings TEXT);"
           "insert into lumoe values (" + com + ", " + timer + ", " + num + ", " + baud + ");";
}

std::string quoted(const std::string& text) { return "'" + text + "'"; }

QByteArray fileHash(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "missing";
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

using lumo::testing::Holder;
using lumo::testing::setImmutable;

// All 39 instruments answer Modbus requests; instrument N's flow is N.
std::string allInstruments()
{
    std::string s = "protocol modbus\n";
    for (int n = 1; n <= lumo::kInstruments; ++n)
        s += "instrument " + std::to_string(n) + " flow=" + std::to_string(n) + "\n";
    return s;
}

// A station started on a settings file the test wrote.
struct Start {
    explicit Start(const std::string& sql, const std::function<void(ProgramDir&)>& before = {})
    {
        runSql(dir.file("lumo.mdb"), sql);
        sim = std::make_unique<Simulator>(dir, allInstruments());
        if (before)
            before(dir);
        run = std::make_unique<StationRun>(dir, Protocol::Modbus,
                                           [this](lumo::StationConfig& config) { recorder.installIn(config); });
        QElapsedTimer clock;
        clock.start();
        result = run->station->start();
        startMs = clock.elapsed();
    }
    std::string field(ValueField f) { return run->station->fields().text(f); }
    std::string message() { return run->dialogs.informed.empty() ? "" : run->dialogs.informed.back(); }
    // The addresses the station asked, in order, as it wrote its requests:
    // on a loaded machine a request the simulator has not read by the next
    // tick is taken back by that tick's clearing and never reaches its log.
    std::vector<int> requested() const
    {
        std::vector<int> addresses;
        for (const LineRecorder::Write& write : recorder.writes())
            if (write.wentOut && write.bytes.size() == 8)
                addresses.push_back(write.bytes[0]);
        return addresses;
    }
    bool requestedAddress(int address)
    {
        const auto seen = requested();
        return std::find(seen.begin(), seen.end(), address) != seen.end();
    }

    ProgramDir dir;
    std::unique_ptr<Simulator> sim;
    LineRecorder recorder;
    std::unique_ptr<StationRun> run;
    StartupResult result{};
    qint64 startMs = 0;
};

// Start-up stopped with one message naming the cause, the status line set
// and the poll timer stopped.
void expectStopped(Start& s, const std::string& cause)
{
    EXPECT_EQ(s.result, StartupResult::Stopped);
    ASSERT_EQ(s.run->dialogs.informed.size(), 1u);
    EXPECT_NE(s.message().find("is not available."), std::string::npos) << s.message();
    EXPECT_NE(s.message().find(cause), std::string::npos) << s.message();
    EXPECT_EQ(s.field(ValueField::Status), lumo::kPortStoppedText);
    EXPECT_FALSE(s.run->station->pollTimer().enabled());
}

struct CountRow {
    const char* stored;
    bool page2, page3;
    int highestPolled;  // an address the poll must reach; cells only up to 39
};

class StoredCount : public ::testing::TestWithParam<CountRow> {};

TEST_P(StoredCount, PollsAndShowsPagesByTheLeadingNumber)
{
    const CountRow& row = GetParam();
    Start s(standardFile("1", "'50'", quoted(row.stored), "'9600'"));
    ASSERT_EQ(s.result, StartupResult::Polling) << s.message();
    EXPECT_EQ(s.field(ValueField::Count), row.stored);
    EXPECT_EQ(s.run->grid().pageVisible(2), row.page2);
    EXPECT_EQ(s.run->grid().pageVisible(3), row.page3);
    // What the cells show from the first answer on (none came before the
    // event loop ran).
    CellRecorder cells(s.run->grid());
    EXPECT_TRUE(waitFor([&] { return s.requestedAddress(row.highestPolled); }, 20000)) << row.stored;
    // The address advances before each request: a sweep starts at 2 and
    // comes back to 1 only after the highest address. Told by the order of
    // the requests on the line and of the cells' first texts, not by what
    // the cells show at one moment (on a loaded machine 1 may have answered
    // before the test looks).
    if (row.highestPolled == 1) {
        EXPECT_TRUE(waitFor([&] { return s.run->cell(1, 0) == "1"; }, 20000));
        const auto seen = s.requested();
        EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](int a) { return a == 1; }));
    } else {
        EXPECT_TRUE(waitFor([&] { return s.run->cell(2, 0) == "2" && s.run->cell(39, 0) == "39"; }, 20000));
        const auto seen = s.requested();
        // Where an address was first asked or shown; the end when never.
        const auto first = [&](int address) { return std::find(seen.begin(), seen.end(), address) - seen.begin(); };
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen.front(), 2);
        EXPECT_LT(first(39), first(1)) << "address 1 comes last in the sweep";
        EXPECT_LT(first(row.highestPolled), first(1)) << "address 1 comes last in the sweep";
        const auto shown = [&](int instrument) {
            return std::find_if(cells.changes.begin(), cells.changes.end(),
                                [&](const CellRecorder::Change& c) { return c.instrument == instrument; }) -
                   cells.changes.begin();
        };
        ASSERT_FALSE(cells.changes.empty());
        EXPECT_EQ(cells.changes.front().instrument, 2);
        EXPECT_LT(shown(39), shown(1)) << "address 1 comes last in the sweep";
    }
    // Polling goes on past addresses that have no line.
    const std::size_t before = s.requested().size();
    EXPECT_TRUE(waitFor([&] { return s.requested().size() >= before + 3; }, 3000));
    EXPECT_TRUE(s.run->dialogs.informed.empty());
}

void PrintTo(const CountRow& row, std::ostream* os) { *os << '"' << row.stored << '"'; }

INSTANTIATE_TEST_SUITE_P(Texts, StoredCount,
                         ::testing::Values(CountRow{"abc", false, false, 1}, CountRow{"", false, false, 1},
                                           CountRow{"-5", false, false, 1}, CountRow{"0", false, false, 1},
                                           CountRow{"1e9", true, true, 41}, CountRow{"40", true, true, 40},
                                           CountRow{"255", true, true, 41}, CountRow{"1000", true, true, 41}));

struct IntervalRow {
    const char* stored;
    const char* stoppedCause;  // nullptr: polling at that interval
};

class StoredInterval : public ::testing::TestWithParam<IntervalRow> {};

TEST_P(StoredInterval, OutOfRangeStopsWithAMessage)
{
    const IntervalRow& row = GetParam();
    Start s(standardFile("1", quoted(row.stored), "'3'", "'9600'"));
    EXPECT_EQ(s.field(ValueField::Interval), row.stored);
    if (row.stoppedCause) {
        expectStopped(s, row.stoppedCause);
    } else {
        EXPECT_EQ(s.result, StartupResult::Polling) << s.message();
        EXPECT_EQ(s.run->station->pollTimer().interval(), std::stoi(row.stored));
        EXPECT_TRUE(s.run->station->pollTimer().enabled());
    }
}

void PrintTo(const IntervalRow& row, std::ostream* os) { *os << '"' << row.stored << '"'; }

INSTANTIATE_TEST_SUITE_P(Texts, StoredInterval,
                         ::testing::Values(IntervalRow{"0", "send interval 0 ms is outside 1..99999"},
                                           IntervalRow{"-1", "send interval -1 ms is outside"},
                                           IntervalRow{"abc", "\"abc\" is not a whole number"},
                                           IntervalRow{"65536", nullptr}, IntervalRow{"99999", nullptr},
                                           IntervalRow{"999999999", "999999999 ms is outside"}));

TEST(StoredPort, OutsideOneTo255OrTextStopsWithAMessage)
{
    const std::pair<const char*, const char*> rows[] = {
        {"0", "port number 0 is not in 1..255"},
        {"-1", "port number -1 is not in 1..255"},
        {"'abc'", "port number \"abc\" is not a whole number"},
    };
    for (const auto& [stored, cause] : rows) {
        SCOPED_TRACE(stored);
        Start s(standardFile(stored, "'50'", "'3'", "'9600'"));
        expectStopped(s, cause);
        EXPECT_TRUE(s.requested().empty());
    }
}

TEST(StoredPort, ElevenIsTheDeviceLinkedAsCom11)
{
    Start s(standardFile("11", "'50'", "'3'", "'9600'"),
            [](ProgramDir& dir) { QFile::link(dir.file("com1"), dir.file("com11")); });
    ASSERT_EQ(s.result, StartupResult::Polling) << s.message();
    EXPECT_EQ(s.field(ValueField::Port), "11");
    EXPECT_TRUE(waitFor([&] { return s.run->cell(3, 0) == "3"; }, 5000));
}

TEST(StoredBaud, UnlistedTextsRunAt9600)
{
    for (const char* baud : {"38400", " 9600", ""}) {
        SCOPED_TRACE(baud);
        Start s(standardFile("1", "'50'", "'3'", quoted(baud)));
        ASSERT_EQ(s.result, StartupResult::Polling) << s.message();
        EXPECT_EQ(s.field(ValueField::Baud), baud);
        EXPECT_TRUE(waitFor([&] { return s.run->cell(3, 0) == "3"; }, 5000));
    }
}

struct TypeRow {
    const char* name;
    std::string sql;
    const char* stoppedCause;  // nullptr: polling
};

class StoredTypes : public ::testing::TestWithParam<TypeRow> {};

TEST_P(StoredTypes, ReadAsTextOrStopWithAMessage)
{
    const TypeRow& row = GetParam();
    Start s(row.sql);
    if (row.stoppedCause) {
        expectStopped(s, row.stoppedCause);
        return;
    }
    ASSERT_EQ(s.result, StartupResult::Polling) << s.message();
    EXPECT_EQ(s.field(ValueField::Interval), "50");
    EXPECT_EQ(s.field(ValueField::Count), "3");
    EXPECT_EQ(s.field(ValueField::Port), "1");
    EXPECT_TRUE(waitFor([&] { return s.run->cell(3, 0) == "3"; }, 5000));
}

void PrintTo(const TypeRow& row, std::ostream* os) { *os << row.name; }

INSTANTIATE_TEST_SUITE_P(
    Fields, StoredTypes,
    ::testing::Values(
        TypeRow{"integers", standardFile("1", "50", "3", "9600"), nullptr},
        TypeRow{"text_port", standardFile("'1'", "'50'", "'3'", "'9600'"), nullptr},
        TypeRow{"blobs", standardFile("1", "X'3530'", "X'33'", "X'39363030'"), nullptr},
        TypeRow{"extra_columns",
                "create table lumoe (note TEXT, Settings TEXT, num TEXT, timer TEXT, com INTEGER, spare BLOB);"
                "insert into lumoe values ('x', '9600', '3', '50', 1, X'00FF');",
                nullptr},
        TypeRow{"real_interval", standardFile("1", "50.0", "'3'", "'9600'"), "\"50.0\" is not a whole number"},
        TypeRow{"real_port", standardFile("1.5", "'50'", "'3'", "'9600'"), "\"1.5\" is not a whole number"},
        // Start-up reports the most recent failure: a field that could not be read
        // leaves its value field empty, and that is what the later step trips on.
        TypeRow{"null_interval", standardFile("1", "NULL", "'3'", "'9600'"), "send interval \"\" is not a whole"},
        TypeRow{"binary_blob_count", standardFile("1", "'50'", "X'FF00FE'", "'9600'"), "UTF-8"},
        TypeRow{"no_count_column",
                "create table lumoe (com INTEGER, timer TEXT, Settings TEXT);"
                "insert into lumoe values (1, '50', '9600');",
                "is missing"},
        TypeRow{"no_row", "create table lumoe (com INTEGER, timer TEXT, num TEXT, Settings TEXT);", "port number \"\" is not a whole number"}),
    [](const ::testing::TestParamInfo<TypeRow>& info) { return std::string(info.param.name); });

TEST(HeldFile, AWriteTransactionElsewhereStillLetsStartUpRead)
{
    std::unique_ptr<Holder> holder;
    Start s(standardFile("1", "'50'", "'3'", "'9600'"),
            [&](ProgramDir& dir) { holder = std::make_unique<Holder>(dir.file("lumo.mdb").toStdString(), "BEGIN IMMEDIATE"); });
    EXPECT_EQ(s.result, StartupResult::Polling) << s.message();
    EXPECT_EQ(s.field(ValueField::Count), "3");
}

TEST(HeldFile, AnExclusiveHolderStopsStartUpInBoundedTime)
{
    std::unique_ptr<Holder> holder;
    Start s(standardFile("1", "'50'", "'3'", "'9600'"),
            [&](ProgramDir& dir) { holder = std::make_unique<Holder>(dir.file("lumo.mdb").toStdString(), "BEGIN EXCLUSIVE"); });
    EXPECT_LT(s.startMs, 10000);
    // The locked file leaves every value field empty; the port is the last
    // step to fail.
    expectStopped(s, "port number \"\" is not a whole number");
    EXPECT_EQ(s.field(ValueField::Interval), "");
}

// Confirms a new interval in the editor with Yes; the program ends.
void confirmNewInterval(Start& s)
{
    s.run->station->commands().openEditor();
    s.run->station->mainWindow().intervalEntry()->setText("300");
    s.run->dialogs.answers = {true};
    QElapsedTimer clock;
    clock.start();
    s.run->station->commands().confirm();
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_TRUE(s.run->station->ended());
}

TEST(FailedSave, LockedFileEndsTheProgramAndKeepsTheFile)
{
    Start s(standardFile("1", "'200'", "'3'", "'9600'"));
    ASSERT_EQ(s.result, StartupResult::Polling) << s.message();
    const QString file = s.dir.file("lumo.mdb");
    const QByteArray before = fileHash(file);
    {
        Holder holder(file.toStdString(), "BEGIN IMMEDIATE");
        confirmNewInterval(s);
    }
    EXPECT_EQ(fileHash(file), before);
}

TEST(FailedSave, ReadOnlyFileEndsTheProgramAndKeepsTheFile)
{
    Start s(standardFile("1", "'200'", "'3'", "'9600'"));
    ASSERT_EQ(s.result, StartupResult::Polling) << s.message();
    const QString file = s.dir.file("lumo.mdb");
    const QByteArray before = fileHash(file);
    if (!setImmutable(file.toStdString(), true))
        GTEST_SKIP() << "this file system has no immutable flag";
    confirmNewInterval(s);
    setImmutable(file.toStdString(), false);
    EXPECT_EQ(fileHash(file), before);
}

// The start-up message keeps its first line and then leads with what the
// operator can act on; the technical detail follows.
TEST(StartupMessage, LeadsWithTheCauseTheOperatorCanActOn)
{
    ProgramDir dir;
    ASSERT_TRUE(dir.writeSettings({}));
    Simulator sim(dir, allInstruments());
    const std::string linked = "COM1 (" + dir.file("com1").toStdString() + " -> " + sim.slavePath().toStdString() + ")";
    QSerialPort holder(sim.slavePath());
    const struct {
        const char* name;
        std::function<void()> arrange;
        std::string lead;
    } cases[] = {
        {"missing settings file", [&] { QFile::remove(dir.file("lumo.mdb")); },
         "找不到设置文件：程序旁边没有 " + dir.file("lumo.mdb").toStdString() + "，本机的数据目录里也没有 " +
             dir.file("data/lumo.mdb").toStdString() + "。"},
        {"no such device",
         [&] {
             dir.writeSettings({});
             QFile::remove(dir.file("com1"));
             QFile::link("/dev/ttyLUMO-none", dir.file("com1"));
         },
         "串口设备不存在：COM1 (" + dir.file("com1").toStdString() + " -> /dev/ttyLUMO-none)"},
        {"port held by another program",
         [&] {
             QFile::remove(dir.file("com1"));
             QFile::link(sim.slavePath(), dir.file("com1"));
             ASSERT_TRUE(holder.open(QIODevice::ReadWrite));
         },
         "串口正被另一个程序使用（进程号 " + std::to_string(::getpid()) + "）：" + linked},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange();
        StationRun run(dir, Protocol::Modbus);
        ASSERT_EQ(run.station->start(), StartupResult::Stopped);
        ASSERT_EQ(run.dialogs.informed.size(), 1u);
        const std::string& told = run.dialogs.informed[0];
        const std::string expectedStart = "Com1 is not available.\r\n" + c.lead;
        EXPECT_EQ(told.substr(0, expectedStart.size()), expectedStart) << told;
        EXPECT_NE(told.find("\r\n", expectedStart.size()), std::string::npos) << "no technical detail: " << told;
    }
}

// An installed station has no settings file beside the program: it reads
// the one in the machine's data directory and saves there. A file beside the
// program (a portable copy, a build) wins, and the other is left alone.
TEST(SettingsPlace, BesideTheProgramElseTheDataDirectory)
{
    const struct {
        const char* name;
        bool beside;
        const char* used;  // "lumo.mdb" or "data/lumo.mdb"
    } cases[] = {
        {"data directory only", false, "data/lumo.mdb"},
        {"both", true, "lumo.mdb"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramDir dir;
        ASSERT_TRUE(QDir().mkpath(dir.file("data")));
        runSql(dir.file("data/lumo.mdb"), standardFile("1", "'250'", "'4'", "'9600'"));
        if (c.beside)
            runSql(dir.file("lumo.mdb"), standardFile("1", "'200'", "'4'", "'9600'"));
        const QString unused = dir.file(c.beside ? "data/lumo.mdb" : "lumo.mdb");
        const QByteArray untouched = fileHash(unused);
        Simulator sim(dir, allInstruments());
        StationRun run(dir, Protocol::Modbus);
        ASSERT_EQ(run.station->start(), StartupResult::Polling) << run.dialogs.informed.front();
        EXPECT_EQ(run.station->fields().text(ValueField::Interval), c.beside ? "200" : "250");
        EXPECT_TRUE(waitFor([&] { return run.cell(4, 0) == "4"; }, 5000));

        run.station->commands().openEditor();
        run.station->mainWindow().intervalEntry()->setText("300");
        run.dialogs.answers = {true};
        run.station->commands().confirm();
        ASSERT_TRUE(run.station->ended());
        EXPECT_EQ(lumo::SqliteSettingsStore(QFileInfo(dir.file(c.used)).path().toStdString()).load().fields.timer, "300");
        EXPECT_EQ(fileHash(unused), untouched);
    }
}

// Ticks while the start-up message is open fill rows; once start-up has
// stopped, every row is blank and stays blank, chained answers included.
TEST(StartupMessage, NoRowKeepsValuesOnceStartUpHasStopped)
{
    ProgramDir dir;
    ASSERT_TRUE(dir.writeSettings({"1", "abc", "5", "9600"}));  // the timer keeps its preset 1000 ms
    Simulator sim(dir, allInstruments());
    StationRun run(dir, Protocol::Modbus);
    bool filled = false;
    run.dialogs.whileInforming = [&] { filled = waitFor([&] { return run.cell(4, 0) == "4"; }, 5000); };
    ASSERT_EQ(run.station->start(), StartupResult::Stopped);
    EXPECT_TRUE(filled);
    const auto allBlank = [&] {
        for (int n = 1; n <= lumo::kInstruments; ++n)
            for (int r = 0; r < lumo::kSlots; ++r)
                if (!run.cell(n, r).empty())
                    return false;
        return true;
    };
    EXPECT_TRUE(allBlank());
    waitFor([] { return false; }, 1500);
    EXPECT_TRUE(allBlank());
}

}  // namespace

#include "startup.h"

#include "fakeserialport.h"
#include "fakeshell.h"
#include "faketimers.h"

#include <gtest/gtest.h>

namespace {

using namespace lumo;
using namespace lumo::testing;

struct StartupBench {
    FakeStartupWindow window;
    FakeGuard guard;
    FakeDialogs dialogs;
    GridModel grid;
    FakeStore store;
    ValueFields fields;
    FakePollTimer timer;
    FakePollCycle poll;
    FakeSerialPort port;
    StationSettings settings;

    StartupBench() { store.loadOutcome = FakeStore::record("200", "13", "3", "9600"); }

    StartupResult run()
    {
        return formLoad({window, guard, dialogs, grid, store, fields, timer, poll, port, settings});
    }
};

TEST(Startup, GoodSettingsEndPolling)
{
    StartupBench b;
    b.store.loadOutcome = FakeStore::record("0200", "14", "3", "19200");
    b.poll.threshold = 57;

    EXPECT_EQ(b.run(), StartupResult::Polling);

    EXPECT_EQ(b.fields.text(ValueField::Interval), "0200");
    EXPECT_EQ(b.fields.text(ValueField::Count), "14");
    EXPECT_EQ(b.fields.text(ValueField::Port), "3");
    EXPECT_EQ(b.fields.text(ValueField::Baud), "19200");
    EXPECT_EQ(b.fields.text(ValueField::Status), "");
    EXPECT_TRUE(b.timer.enabled());
    EXPECT_EQ(b.timer.interval(), 200);
    EXPECT_TRUE(b.dialogs.informed.empty());
    EXPECT_EQ(b.window.countEntry, "1");
    EXPECT_TRUE(b.window.digitsOnly);
    EXPECT_TRUE(b.grid.pageVisible(2));
    EXPECT_FALSE(b.grid.pageVisible(3));

    // The port is opened first, then configured; the stored baud comes last
    // but one, then the program's receive threshold. No byte is sent.
    const std::vector<std::string> expected = {
        "setPortNumber", "open",       "setNoHandshaking", "setSendThreshold", "setLineSettings",
        "setBinaryInput", "clearOutput", "clearInput",     "setLineSettings",  "setReceiveThreshold"};
    EXPECT_EQ(b.port.calls, expected);
    EXPECT_EQ(b.port.number, 3);
    EXPECT_EQ(b.port.lineSettings, "19200,n,8,1");
    EXPECT_EQ(b.port.threshold, 57);
    EXPECT_TRUE(b.port.written.empty());
    const std::vector<std::string> pollCalls = {"setCurrentAddress 1"};
    EXPECT_EQ(b.poll.calls, pollCalls);
}

TEST(Startup, SecondCopyEndsBeforeAnythingShows)
{
    StartupBench b;
    b.guard.running = true;
    EXPECT_EQ(b.run(), StartupResult::AnotherCopyRunning);
    EXPECT_EQ(b.store.loads, 0);
    EXPECT_TRUE(b.port.calls.empty());
    EXPECT_FALSE(b.grid.pageVisible(2));
    EXPECT_FALSE(b.grid.pageVisible(3));
    EXPECT_FALSE(b.timer.enabled());
    EXPECT_TRUE(b.dialogs.informed.empty());
}

TEST(Startup, PagesFollowTheInstrumentCount)
{
    const struct {
        const char* count;
        bool page2, page3;
    } cases[] = {{"0", false, false},  {"13", false, false}, {"14", true, false}, {"26", true, false},
                 {"27", true, true},   {"39", true, true},   {"", false, false},  {"abc", false, false},
                 {"1e9", true, true},  {"-5", false, false}};
    for (const auto& c : cases) {
        StartupBench b;
        b.store.loadOutcome = FakeStore::record("200", c.count, "1", "9600");
        b.run();
        EXPECT_EQ(b.grid.pageVisible(2), c.page2) << c.count;
        EXPECT_EQ(b.grid.pageVisible(3), c.page3) << c.count;
    }
}

// Every failure ends in the same stopped state: one message naming the port
// currently set, the status line, Timer1 disabled with interval 0.
TEST(Startup, FailuresStopPollingWithOneMessage)
{
    const std::string missing = "settings file /p/lumo.mdb: unable to open database file";
    const struct {
        const char* name;
        StoreOutcome stored;
        std::map<std::string, std::string> portFailures;
        std::string message;
    } cases[] = {
        // The empty fields then fail too; the message tells the last failure.
        {"missing settings file", StoreOutcome{{}, {missing}}, {},
         "Com1 is not available.\r\nport number \"\" is not a whole number (it was not read: " + missing + ")"},
        {"port held elsewhere",
         FakeStore::record("200", "13", "3", "9600"),
         {{"open", "cannot open COM3 (/dev/ttyS2): Permission error while locking the device"}},
         "Com3 is not available.\r\ncannot open COM3 (/dev/ttyS2): Permission error while locking the device"},
        {"later failure replaces the earlier",
         FakeStore::record("200", "13", "2", "9600"),
         {{"open", "first"}, {"setReceiveThreshold", "COM2 (/dev/ttyS1) is not open"}},
         "Com2 is not available.\r\nCOM2 (/dev/ttyS1) is not open"},
        {"empty port field tries the preset port",
         FakeStore::record("200", "13", "", "9600"),
         {},
         "Com1 is not available.\r\nport number \"\" is not a whole number"},
        {"interval not a number",
         FakeStore::record("abc", "13", "4", "9600"),
         {},
         "Com4 is not available.\r\nsend interval \"abc\" is not a whole number of milliseconds"},
        {"interval out of range",
         FakeStore::record("100000", "13", "4", "9600"),
         {},
         "Com4 is not available.\r\nsend interval 100000 ms is outside 1..99999 ms"},
        {"interval zero", FakeStore::record("0", "13", "4", "9600"), {},
         "Com4 is not available.\r\nsend interval 0 ms is outside 1..99999 ms"},
    };
    for (const auto& c : cases) {
        StartupBench b;
        b.store.loadOutcome = c.stored;
        b.port.failing = c.portFailures;

        EXPECT_EQ(b.run(), StartupResult::Stopped) << c.name;
        ASSERT_EQ(b.dialogs.informed.size(), 1u) << c.name;
        EXPECT_EQ(b.dialogs.informed[0], c.message) << c.name;
        EXPECT_EQ(b.fields.text(ValueField::Status), "串口已被占用,请更改串口,通讯停止!") << c.name;
        EXPECT_FALSE(b.timer.enabled()) << c.name;
        EXPECT_EQ(b.timer.interval(), 0) << c.name;
        // The steps after the failure still ran.
        EXPECT_EQ(b.port.calls.back(), "setReceiveThreshold") << c.name;
        EXPECT_EQ(b.poll.calls.back(), "setCurrentAddress 1") << c.name;
        EXPECT_TRUE(b.window.digitsOnly) << c.name;
    }
}

TEST(Startup, OneBadFieldKeepsTheOthers)
{
    StartupBench b;
    b.store.loadOutcome.fields = {"300", std::nullopt, "2", "4800"};
    b.store.loadOutcome.failures = {"settings file /p/lumo.mdb: field \"num\" is null"};

    EXPECT_EQ(b.run(), StartupResult::Stopped);
    EXPECT_EQ(b.fields.text(ValueField::Interval), "300");
    EXPECT_EQ(b.fields.text(ValueField::Count), "");
    EXPECT_EQ(b.fields.text(ValueField::Port), "2");
    EXPECT_EQ(b.fields.text(ValueField::Baud), "4800");
    EXPECT_EQ(b.port.lineSettings, "4800,n,8,1");
    EXPECT_EQ(b.dialogs.informed.at(0), "Com2 is not available.\r\nsettings file /p/lumo.mdb: field \"num\" is null");
}

TEST(Startup, UnknownBaudTextOpensAt9600)
{
    for (const char* baud : {"38400", " 9600", "", "19200 "}) {
        StartupBench b;
        b.store.loadOutcome = FakeStore::record("200", "13", "1", baud);
        EXPECT_EQ(b.run(), StartupResult::Polling) << baud;
        EXPECT_EQ(b.port.lineSettings, "9600,n,8,1") << baud;
    }
}

TEST(Startup, IntegerValueOfAField)
{
    const struct {
        const char* text;
        std::optional<long long> value;
    } cases[] = {{"200", 200},  {"0200", 200},        {" 3 ", 3},           {"+5", 5},        {"-1", -1},
                 {"", {}},      {"abc", {}},          {"3.5", {}},          {"12abc", {}},    {"1e3", {}},
                 {"99999", 99999}, {"999999999", 999999999}, {"99999999999999999999", {}},
                 {"+-5", {}},   {"-+5", {}},          {"+", {}},            {"--5", {}}};
    for (const auto& c : cases)
        EXPECT_EQ(integerValue(c.text), c.value) << '"' << c.text << '"';
}

}  // namespace

#include "commands.h"

#include "fakeshell.h"
#include "faketimers.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace lumo;
using namespace lumo::testing;

class FakeEditor : public SettingsEditor {
public:
    bool visible = false;
    bool changeEnabled = true;
    std::string interval = "200";
    std::string count, baud, port;
    std::vector<std::string> counts = entries("", 1, 39), bauds = {"19200", "14400", "9600", "4800",
                                                                      "2400",  "1200",  "600"},
                             ports = entries("com", 1, 10);

    void setEditorVisible(bool v) override { visible = v; }
    void setChangeCommandEnabled(bool e) override { changeEnabled = e; }
    void setIntervalText(const std::string& t) override { interval = t; }
    std::string intervalText() const override { return interval; }
    void selectCount(const std::string& e) override { select(counts, count, e); }
    void selectBaud(const std::string& e) override { select(bauds, baud, e); }
    void selectPort(const std::string& e) override { select(ports, port, e); }
    std::string countText() const override { return count; }
    std::string baudText() const override { return baud; }
    std::string portText() const override { return port; }

private:
    static std::vector<std::string> entries(const std::string& prefix, int first, int last)
    {
        std::vector<std::string> all;
        for (int n = first; n <= last; ++n)
            all.push_back(prefix + std::to_string(n));
        return all;
    }
    static void select(const std::vector<std::string>& list, std::string& selected, const std::string& entry)
    {
        if (std::find(list.begin(), list.end(), entry) != list.end())
            selected = entry;
    }
};

struct FakeEnd : ProgramEnd {
    int ends = 0;
    void endProgram() override { ++ends; }
};

struct CommandBench {
    FakeEditor editor;
    FakeDialogs dialogs;
    FakeStore store;
    ValueFields fields;
    FakePollTimer timer;
    FakeEnd end;
    Commands commands{editor, dialogs, store, fields, timer, end};

    CommandBench()
    {
        fields.setText(ValueField::Interval, "300");
        fields.setText(ValueField::Count, "13");
        fields.setText(ValueField::Port, "3");
        fields.setText(ValueField::Baud, "9600");
        timer.isEnabled = true;
    }
};

TEST(Commands, OpeningTheEditorCopiesTheCurrentSettingsIn)
{
    CommandBench b;
    b.commands.openEditor();
    EXPECT_TRUE(b.editor.visible);
    EXPECT_FALSE(b.editor.changeEnabled);
    EXPECT_EQ(b.editor.interval, "300");
    EXPECT_EQ(b.editor.count, "13");
    EXPECT_EQ(b.editor.baud, "9600");
    EXPECT_EQ(b.editor.port, "com3");
}

// A count or baud that no list entry matches (a file edited by other means)
// preselects what the station polls with, so Yes never stores a count or
// baud the operator did not see.
TEST(Commands, UnlistedCountAndBaudPreselectWhatTheStationRunsWith)
{
    const struct {
        const char* count;
        const char* baud;
        const char* countShown;
        const char* baudShown;
    } cases[] = {{"40", "38400", "39", "9600"}, {"1000", "", "39", "9600"}, {"1e9", " 9600", "39", "9600"},
                 {"0", "19200 ", "1", "9600"},  {"", "abc", "1", "9600"},   {"abc", "600", "1", "600"},
                 {"-5", "14400", "1", "14400"}, {"13.5", "4800", "14", "4800"}, {" 7", "2400", "7", "2400"},
                 {"39", "1200", "39", "1200"}};
    for (const auto& c : cases) {
        CommandBench b;
        b.editor.count = "5";
        b.fields.setText(ValueField::Count, c.count);
        b.fields.setText(ValueField::Baud, c.baud);
        b.commands.openEditor();
        EXPECT_EQ(b.editor.count, c.countShown) << '"' << c.count << '"';
        EXPECT_EQ(b.editor.baud, c.baudShown) << '"' << c.baud << '"';
    }
}

TEST(Commands, PortOutsideTheListKeepsThePreviousSelection)
{
    for (const char* stored : {"11", "", "0", "03", "com3"}) {
        CommandBench b;
        b.editor.port = "com7";
        b.fields.setText(ValueField::Port, stored);
        b.commands.openEditor();
        EXPECT_EQ(b.editor.port, "com7") << '"' << stored << '"';
    }
}

TEST(Commands, IntervalValidation)
{
    const struct {
        const char* text;
        bool accepted;
    } cases[] = {{"199", false}, {"200", true}, {"99999", true}, {"", false}, {"0", false},
                 {"0200", true}, {"00199", false}, {"abc", false}, {"1e3", false}, {"999999999999", true}};
    for (const auto& c : cases)
        EXPECT_EQ(intervalAccepted(c.text), c.accepted) << '"' << c.text << '"';
}

TEST(Commands, RejectedIntervalKeepsTheEditorOpen)
{
    CommandBench b;
    b.commands.openEditor();
    b.editor.interval = "199";
    b.commands.confirm();
    EXPECT_EQ(b.dialogs.informed, std::vector<std::string>{"必须输入大于200的数字且小于99999"});
    EXPECT_TRUE(b.dialogs.asked.empty());
    EXPECT_TRUE(b.editor.visible);
    EXPECT_TRUE(b.store.saved.empty());
    EXPECT_EQ(b.end.ends, 0);
}

TEST(Commands, YesSavesShowsTheStoredFieldsAndEnds)
{
    CommandBench b;
    b.commands.openEditor();
    b.editor.interval = "0250";
    b.editor.count = "20";
    b.editor.baud = "19200";
    b.editor.port = "com5";
    b.dialogs.answers = {true};
    b.store.saveOutcome = FakeStore::record("0250", "20", "5", "19200");

    b.commands.confirm();

    EXPECT_EQ(b.dialogs.asked, std::vector<std::string>{"修改端口后必须重新进入本系统，请确认修改并退出系统?"});
    ASSERT_EQ(b.store.saved.size(), 1u);
    EXPECT_EQ(b.store.saved[0].interval, "0250");
    EXPECT_EQ(b.store.saved[0].count, "20");
    EXPECT_EQ(b.store.saved[0].baud, "19200");
    EXPECT_EQ(b.store.saved[0].portEntry, "com5");
    EXPECT_EQ(b.fields.text(ValueField::Interval), "0250");
    EXPECT_EQ(b.fields.text(ValueField::Port), "5");
    EXPECT_FALSE(b.editor.visible);
    EXPECT_TRUE(b.editor.changeEnabled);
    EXPECT_EQ(b.end.ends, 1);
}

// The program still ends, but not before the operator has been told, in
// Chinese first, then with the store's own description.
TEST(Commands, YesEndsTheProgramEvenWhenTheSaveFails)
{
    const std::string readOnly = "settings file /p/lumo.mdb: attempt to write a readonly database";
    const struct {
        bool stored;
        std::string told;
    } cases[] = {{false, "设置未能保存，下次启动仍使用原来的设置。\r\n" + readOnly},
                 {true, "部分设置未能保存，下次启动时这些设置仍是原来的值。\r\n" + readOnly}};
    for (const auto& c : cases) {
        CommandBench b;
        b.commands.openEditor();
        b.dialogs.answers = {true};
        b.store.saveOutcome = StoreOutcome{{}, {readOnly}};
        b.store.saveOutcome.stored = c.stored;
        b.commands.confirm();
        EXPECT_EQ(b.end.ends, 1);
        EXPECT_EQ(b.fields.text(ValueField::Interval), "300");  // nothing read back
        EXPECT_EQ(b.dialogs.informed, std::vector<std::string>{c.told});
    }
}

TEST(Commands, NoSavesNothingAndPollingGoesOn)
{
    CommandBench b;
    b.commands.openEditor();
    b.editor.interval = "500";
    b.dialogs.answers = {false};
    b.commands.confirm();
    EXPECT_TRUE(b.store.saved.empty());
    EXPECT_FALSE(b.editor.visible);
    EXPECT_TRUE(b.editor.changeEnabled);
    EXPECT_EQ(b.fields.text(ValueField::Interval), "300");
    EXPECT_TRUE(b.timer.enabled());
    EXPECT_EQ(b.end.ends, 0);
}

TEST(Commands, ExitAsksFirst)
{
    CommandBench b;
    b.dialogs.answers = {false, true};
    b.commands.exit();
    EXPECT_EQ(b.end.ends, 0);
    EXPECT_TRUE(b.timer.enabled());
    b.commands.exit();
    EXPECT_EQ(b.end.ends, 1);
    EXPECT_EQ(b.dialogs.asked, (std::vector<std::string>{"请确认是否退出系统?", "请确认是否退出系统?"}));
}

TEST(Commands, UnloadStopsTheTimerAndSavesNothing)
{
    CommandBench b;
    b.commands.unload();
    EXPECT_FALSE(b.timer.enabled());
    EXPECT_TRUE(b.store.saved.empty());
}

}  // namespace

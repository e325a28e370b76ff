// The operator's commands on the real main window: clicks and typed text,
// a real settings file, message boxes answered by a fake.

#include "mainwindow.h"
#include "stationrun.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace lumo::testing;
using lumo::ValueField;

QByteArray fileHash(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "missing";
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

void click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

void typeInterval(lumo::MainWindow& form1, const char* text)
{
    form1.intervalEntry()->clear();
    QTest::keyClicks(form1.intervalEntry(), text);
}

// A station that polls a quiet line.
struct Polling {
    explicit Polling(const Settings& settings = {"3", "200", "13", "9600"})
    {
        dir.writeSettings(settings);
        sim = std::make_unique<Simulator>(dir, "protocol modbus\n");
        QFile::link(dir.file("com1"), dir.file("com3"));
        run = std::make_unique<StationRun>(dir, Protocol::Modbus);
        result = run->station->start();
    }
    lumo::MainWindow& form1() { return run->station->mainWindow(); }

    ProgramDir dir;
    std::unique_ptr<Simulator> sim;
    std::unique_ptr<StationRun> run;
    lumo::StartupResult result{};
};

TEST(CommandsEndToEnd, ChangeOpensTheEditorWithTheCurrentSettings)
{
    Polling p;
    ASSERT_EQ(p.result, lumo::StartupResult::Polling);
    click(p.form1().changeButton());
    EXPECT_TRUE(p.form1().intervalEntry()->isVisible());
    EXPECT_FALSE(p.form1().changeButton()->isEnabled());
    EXPECT_EQ(p.form1().intervalEntry()->text(), "200");
    EXPECT_EQ(p.form1().countList()->currentText(), "13");
    EXPECT_EQ(p.form1().baudList()->currentText(), "9600");
    EXPECT_EQ(p.form1().portList()->currentText(), "com3");
}

TEST(CommandsEndToEnd, StoredPortOutsideTheListSelectsNothing)
{
    for (const char* port : {"11", ""}) {
        Polling p({port, "200", "13", "9600"});
        click(p.form1().changeButton());
        EXPECT_EQ(p.form1().portList()->currentIndex(), -1) << port;
    }
}

TEST(CommandsEndToEnd, IntervalBelow200IsRejectedAndTheEditorStaysOpen)
{
    for (const char* typed : {"199", ""}) {
        Polling p;
        const QByteArray before = fileHash(p.dir.file("lumo.mdb"));
        click(p.form1().changeButton());
        typeInterval(p.form1(), typed);
        click(p.form1().confirmButton());
        EXPECT_EQ(p.run->dialogs.informed.back(), "必须输入大于200的数字且小于99999") << typed;
        EXPECT_TRUE(p.run->dialogs.asked.empty());
        EXPECT_TRUE(p.form1().intervalEntry()->isVisible());
        EXPECT_FALSE(p.run->station->ended());
        EXPECT_EQ(fileHash(p.dir.file("lumo.mdb")), before);
    }
}

TEST(CommandsEndToEnd, NoStoresNothingAndKeepsPolling)
{
    Polling p;
    ASSERT_EQ(p.result, lumo::StartupResult::Polling);
    const QByteArray before = fileHash(p.dir.file("lumo.mdb"));
    click(p.form1().changeButton());
    typeInterval(p.form1(), "200");
    p.run->dialogs.answers = {false};
    click(p.form1().confirmButton());
    EXPECT_EQ(p.run->dialogs.asked.back(), "修改端口后必须重新进入本系统，请确认修改并退出系统?");
    EXPECT_FALSE(p.form1().intervalEntry()->isVisible());
    EXPECT_TRUE(p.form1().changeButton()->isEnabled());
    EXPECT_FALSE(p.run->station->ended());
    EXPECT_TRUE(p.run->station->pollTimer().enabled());
    EXPECT_EQ(fileHash(p.dir.file("lumo.mdb")), before);
}

TEST(CommandsEndToEnd, YesSavesAndTheNextStartShowsTheNewSettings)
{
    Polling p;
    click(p.form1().changeButton());
    typeInterval(p.form1(), "99999");
    p.form1().countList()->setCurrentText("27");
    p.form1().baudList()->setCurrentText("19200");
    p.form1().portList()->setCurrentText("com7");
    p.run->dialogs.answers = {true};
    click(p.form1().confirmButton());
    EXPECT_TRUE(p.run->station->ended());

    p.run.reset();  // the ended copy lets go of its lock and port
    p.run = std::make_unique<StationRun>(p.dir, Protocol::Modbus);
    p.run->station->start();
    lumo::ValueFields& fields = p.run->station->fields();
    EXPECT_EQ(fields.text(ValueField::Interval), "99999");
    EXPECT_EQ(fields.text(ValueField::Count), "27");
    EXPECT_EQ(fields.text(ValueField::Baud), "19200");
    EXPECT_EQ(fields.text(ValueField::Port), "7");
    EXPECT_TRUE(p.run->grid().pageVisible(3));
}

TEST(CommandsEndToEnd, YesWithAMissingSettingsFileStillEndsAndCreatesNothing)
{
    Polling p;
    QFile::remove(p.dir.file("lumo.mdb"));
    click(p.form1().changeButton());
    typeInterval(p.form1(), "300");
    p.run->dialogs.answers = {true};
    click(p.form1().confirmButton());
    EXPECT_TRUE(p.run->station->ended());
    EXPECT_FALSE(QFileInfo::exists(p.dir.file("lumo.mdb")));
}

// Root writes through chmod 0444; the immutable flag stops even root.
TEST(CommandsEndToEnd, YesWithAReadOnlySettingsFileStillEndsAndLeavesItAsItWas)
{
    Polling p;
    const QString file = p.dir.file("lumo.mdb");
    if (QProcess::execute("chattr", {"+i", file}) != 0)
        GTEST_SKIP() << "cannot make the settings file read-only here";
    const QByteArray before = fileHash(file);
    click(p.form1().changeButton());
    typeInterval(p.form1(), "300");
    p.run->dialogs.answers = {true};
    click(p.form1().confirmButton());
    EXPECT_TRUE(p.run->station->ended());
    EXPECT_EQ(fileHash(file), before);
    QProcess::execute("chattr", {"-i", file});
}

// The file's own permissions stop a non-root operator where root would write
// anyway: the test drops to another user for the save.
class AsOtherUser {
public:
    AsOtherUser()
    {
        if (::geteuid() == 0 && (::setegid(kNobody) != 0 || ::seteuid(kNobody) != 0))
            ADD_FAILURE() << "cannot drop to uid " << kNobody;
    }
    ~AsOtherUser()
    {
        if (::getuid() == 0 && (::seteuid(0) != 0 || ::setegid(0) != 0))
            std::abort();
    }
    static constexpr uid_t kNobody = 65534;
};

void setMode(const QString& path, mode_t mode) { ::chmod(QFile::encodeName(path).constData(), mode); }

TEST(CommandsEndToEnd, YesOnAFileTheOperatorCannotWriteTellsWhyAndEnds)
{
    const struct {
        const char* name;
        mode_t directoryMode, fileMode;
    } cases[] = {
        {"read-only file", 0777, 0644},
        {"read-only directory", 0755, 0666},  // SQLite writes its journal beside the file
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Polling p;
        const QString file = p.dir.file("lumo.mdb");
        const QByteArray before = fileHash(file);
        click(p.form1().changeButton());
        typeInterval(p.form1(), "300");
        p.run->dialogs.answers = {true};
        setMode(p.dir.path(), c.directoryMode);
        setMode(file, c.fileMode);
        {
            AsOtherUser operatorOnly;
            click(p.form1().confirmButton());
        }
        setMode(p.dir.path(), 0700);
        EXPECT_TRUE(p.run->station->ended());
        EXPECT_EQ(fileHash(file), before);
        ASSERT_EQ(p.run->dialogs.informed.size(), 1u);
        const std::string told = p.run->dialogs.informed[0];
        EXPECT_EQ(told.rfind("设置未能保存", 0), 0u) << told;
        EXPECT_NE(told.find(file.toStdString()), std::string::npos) << told;
        EXPECT_NE(told.find("attempt to write a readonly database"), std::string::npos) << told;
    }
}

// A count of 40 in the file: the editor shows 39, the count the list can
// hold, and a change of the interval alone stores 39, not the list's "1".
TEST(CommandsEndToEnd, UnlistedStoredCountIsShownAndStoredAsTheNearestEntry)
{
    Polling p({"3", "200", "40", "38400"});
    click(p.form1().changeButton());
    EXPECT_EQ(p.form1().countList()->currentText(), "39");
    EXPECT_EQ(p.form1().baudList()->currentText(), "9600");
    typeInterval(p.form1(), "400");
    p.run->dialogs.answers = {true};
    click(p.form1().confirmButton());
    ASSERT_TRUE(p.run->station->ended());
    p.run.reset();
    p.run = std::make_unique<StationRun>(p.dir, Protocol::Modbus);
    p.run->station->start();
    EXPECT_EQ(p.run->station->fields().text(ValueField::Count), "39");
    EXPECT_EQ(p.run->station->fields().text(ValueField::Interval), "400");
    EXPECT_EQ(p.run->station->fields().text(ValueField::Baud), "9600");
}

TEST(CommandsEndToEnd, ExitAnsweredNoKeepsRunningYesEnds)
{
    Polling p;
    p.run->dialogs.answers = {false, true};
    click(p.form1().exitButton());
    EXPECT_EQ(p.run->dialogs.asked.back(), "请确认是否退出系统?");
    EXPECT_FALSE(p.run->station->ended());
    EXPECT_TRUE(p.run->station->pollTimer().enabled());
    click(p.form1().exitButton());
    EXPECT_TRUE(p.run->station->ended());
}

}  // namespace

// Both Windows programs under Wine against lumosim: lumoscan13.exe and
// lumoscan12.exe, as the Windows build installs them, poll the simulator on
// a pseudo-terminal through Wine's COM1. What they show is read inside them
// by the test probe (tests/support/uiprobe), which also clicks and types as
// the operator does. Run by scripts/windows.sh, which makes the Wine session,
// maps COM1 and starts Xvfb, and says where things are:
//   LUMO_WINDOWS_STAGE  the installed programs, <stage>/lumoscan1N/
//   LUMO_WINE_COM1      the path Wine's COM1 leads to
//   LUMO_UIPROBE_PATH   the directory whose generic/ holds the probe
//   LUMO_SHOTS          where to put pictures of the main window and page 2
//                       (optional)
//   LUMO_SETDCB         setdcb.exe, which leaves a port as a careless program might

#include "knowninstruments.h"
#include "linelog.h"
#include "pagelayout.h"
#include "sqlitesettingsstore.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <vector>

namespace {

using namespace lumo::testing;

QString setting(const char* name)
{
    const QString value = qEnvironmentVariable(name);
    if (value.isEmpty())
        ADD_FAILURE() << name << " is not set: scripts/windows.sh runs this test";
    return value;
}

std::string cellName(int instrument, int slot) { return std::to_string(instrument) + ' ' + lumo::kHeadings[slot]; }

// What the probe saw: the newest text of each named field and all of them.
struct Shown {
    std::map<std::string, std::string> latest;
    std::map<std::string, std::vector<std::string>> history;

    std::string text(const std::string& name) const
    {
        const auto found = latest.find(name);
        return found == latest.end() ? std::string() : found->second;
    }
    bool showsOwnValues(int instrument) const
    {
        const auto texts = textsOf(instrument);
        for (int slot = 0; slot < 8; ++slot) {
            const auto found = latest.find(cellName(instrument, slot));
            if (found == latest.end() || found->second != texts[slot])
                return false;
        }
        return true;
    }
    // Slot 0 went from a value to blank and back to a value.
    bool blankedAndFilledAgain(int instrument) const
    {
        const auto found = history.find(cellName(instrument, 0));
        if (found == history.end())
            return false;
        int stage = 0;
        for (const std::string& text : found->second)
            if ((stage % 2 == 0) == !text.empty())
                ++stage;
        return stage >= 3;
    }
};

// A Windows program copied from the stage into a directory of its own,
// started under Wine with the probe; or an installed one, where it is.
class WindowsProgram {
public:
    WindowsProgram(ProgramDir& dir, const QString& name)
        : exe_(dir.file(name + ".exe")), probe_(dir.file("probe"))
    {
        const QString stage = setting("LUMO_WINDOWS_STAGE") + '/' + name;
        EXPECT_EQ(QProcess::execute("cp", {"-a", stage + "/.", dir.path()}), 0) << "cannot copy " << stage.toStdString();
        QDir().mkpath(probe_);
    }
    WindowsProgram(const QString& installedExe, const QString& probeDirectory)
        : exe_(installedExe), probe_(probeDirectory)
    {
        QDir().mkpath(probe_);
    }
    ~WindowsProgram()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

    void start()
    {
        // Wine passes a Unix variable WINEQT_X on as QT_X (and QT_X not at all).
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("WINEQT_QPA_GENERIC_PLUGINS", "lumouiprobe:Z:" + probe_);
        env.insert("WINEQT_PLUGIN_PATH", "Z:" + setting("LUMO_UIPROBE_PATH"));
        // The probe's Qt Test DLL lies beside it; all the rest the program
        // loads from its own directory.
        env.insert("WINEPATH", "Z:" + setting("LUMO_UIPROBE_PATH") + "/generic");
        process_.setProcessEnvironment(env);
        process_.setProcessChannelMode(QProcess::ForwardedChannels);
        process_.start("/usr/lib/wine/wine64", {exe_});
        ASSERT_TRUE(process_.waitForStarted(5000));
    }
    void command(const QString& line)
    {
        QFile file(probe_ + "/commands");
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write((line + '\n').toUtf8());
    }
    // A picture of a window as the program draws it, where LUMO_SHOTS says.
    void shoot(const QString& windowTitle, const QString& file)
    {
        const QString shots = qEnvironmentVariable("LUMO_SHOTS");
        if (shots.isEmpty())
            return;
        QFile::remove(shots + '/' + file);
        command("shoot " + windowTitle + "\tZ:" + shots + '/' + file);
        EXPECT_TRUE(waitFor([&] { return QFile::exists(shots + '/' + file); }, 10000)) << file.toStdString();
    }
    Shown shown() const
    {
        Shown shown;
        QFile file(probe_ + "/texts.log");
        if (!file.open(QIODevice::ReadOnly))
            return shown;
        for (const QByteArray& line : file.readAll().split('\n')) {
            const QList<QByteArray> fields = line.split('\t');
            if (fields.size() < 3)
                continue;
            const std::string name = fields[1].toStdString(), text = fields[2].toStdString();
            shown.latest[name] = text;
            shown.history[name].push_back(text);
        }
        return shown;
    }
    bool ended(int timeoutMs) { return process_.waitForFinished(timeoutMs); }
    qint64 pid() const { return process_.processId(); }
    int exitCode() const { return process_.exitCode(); }

private:
    QString exe_;
    QString probe_;
    QProcess process_;
};

// The simulator on Wine's COM1.
void linkCom1(const Simulator& sim)
{
    const QString com1 = setting("LUMO_WINE_COM1");
    QFile::remove(com1);
    ASSERT_TRUE(QFile::link(sim.slavePath(), com1));
}

// Processes other than the simulator that hold the line's device open.
QStringList holdersOf(const QString& device, qint64 simulatorPid)
{
    QStringList holders;
    for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
        if (pid.toLongLong() <= 0 || pid.toLongLong() == simulatorPid)
            continue;
        for (const QFileInfo& fd : QDir("/proc/" + pid + "/fd").entryInfoList(QDir::System))
            if (fd.symLinkTarget() == device)
                holders << pid;
    }
    return holders;
}

// Every text shown under an instrument's cells is that instrument's own
// value or blank; the instruments not configured never show anything.
long expectOnlyOwnValues(const Shown& shown, int configured)
{
    long compared = 0;
    for (int n = 1; n <= lumo::kInstruments; ++n)
        for (int slot = 0; slot < 8; ++slot) {
            const auto found = shown.history.find(cellName(n, slot));
            if (found == shown.history.end())
                continue;
            for (const std::string& text : found->second) {
                ++compared;
                if (!text.empty()) {
                    EXPECT_TRUE(n <= configured && text == textsOf(n)[slot]) << cellName(n, slot) << " showed " << text;
                }
            }
        }
    return compared;
}

// Instruments 1..count with their known values; instrument 2 with a fault.
std::string scenarioOf(const char* protocol, int count, const std::string& faultOf2)
{
    std::string scenario = std::string("protocol ") + protocol + "\n";
    for (int n = 1; n <= count; ++n)
        scenario += instrumentLine(n, n == 2 ? faultOf2 : "");
    return scenario;
}

struct WindowsRun {
    const char* program;
    const char* title;
    Settings settings;
    int instruments;
};

// Polls, blanks the instrument that stops answering and fills it again,
// shows every value as sent, and ends with the port released. beforeStart:
// what another program does to COM1 first.
void pollAndBlank(const WindowsRun& run, ProgramDir& dir, Simulator& sim, WindowsProgram& program,
                  const std::function<void()>& beforeStart = {})
{
    ASSERT_TRUE(sim.started()) << sim.errors().toStdString();
    linkCom1(sim);
    if (beforeStart)
        beforeStart();
    program.start();
    const auto healthyShown = [&] {
        const Shown shown = program.shown();
        for (int n = 1; n <= run.instruments; ++n)
            if (n != 2 && !shown.showsOwnValues(n))
                return false;
        return shown.blankedAndFilledAgain(2);
    };
    EXPECT_TRUE(waitFor(healthyShown, 30000)) << "what the program showed is in " << dir.file("probe/texts.log").toStdString();
    const long compared = expectOnlyOwnValues(program.shown(), run.instruments);
    const LineLog log = readLineLog(sim);
    std::printf("[ windows  ] %s under Wine: lumosim read %zu requests and sent %zu answers; %ld cell texts compared\n",
                run.program, log.requested.size(), log.answers.size(), compared);
}

// CPU seconds a process has used so far.
double cpuSeconds(qint64 pid)
{
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    // Fields 14 and 15, user and system time, after the name in parentheses.
    const QList<QByteArray> fields = stat.readAll().split(')').last().trimmed().split(' ');
    return fields.size() > 12 ? double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK))
                              : 0;
}

// The program and Wine's server, where a device error could keep either busy.
double cpuSecondsOfProgramAndServer(qint64 programPid)
{
    double seconds = cpuSeconds(programPid);
    for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
        QFile comm("/proc/" + pid + "/comm");
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().startsWith("wineserver"))
            seconds += cpuSeconds(pid.toLongLong());
    }
    return seconds;
}

// Wine's server holds the device while a Windows program has it open.
void expectPortReleased(const Simulator& sim)
{
    const QStringList holders = holdersOf(sim.slavePath(), sim.pid());
    EXPECT_TRUE(holders.isEmpty()) << "still held by process " << holders.join(' ').toStdString();
}

TEST(WindowsPrograms, Lumoscan13PollsBlanksAndStoresAConfirmedChange)
{
    // Page 2 is shown from 14 instruments on.
    const WindowsRun run{"lumoscan13", "LUMO-QSPAR-MODBUS Ver1.3", {"1", "200", "26", "9600"}, 26};
    ProgramDir dir;
    WindowsProgram program(dir, run.program);
    ASSERT_TRUE(dir.writeSettings(run.settings));
    Simulator sim(dir, scenarioOf("modbus", run.instruments, "silent every=2"));
    // Another program left COM1 dropping 0x00 bytes, which every answer
    // holds, and with RTS/DTR handshaking: every answer still arrives whole.
    pollAndBlank(run, dir, sim, program, [] {
        QProcess setdcb;
        setdcb.start("/usr/lib/wine/wine64", {setting("LUMO_SETDCB"), "COM1"});
        ASSERT_TRUE(setdcb.waitForFinished(60000));
        EXPECT_EQ(setdcb.exitCode(), 0) << setdcb.readAllStandardError().toStdString();
        std::printf("[ windows  ] %s", setdcb.readAllStandardOutput().constData());
    });
    program.shoot(run.title, "form1-wine.png");
    program.shoot("LUMO-QSPAR-MODBUS", "form2-wine.png");

    program.command("click 修改");
    program.command("type 发送间隔\t300");
    program.command("click 确定");
    program.command("answer 是(Y)");
    ASSERT_TRUE(program.ended(20000)) << "the program did not end after the confirmed change";
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_EQ(lumo::SqliteSettingsStore(dir.path().toStdString()).load().fields.timer, "300");
    expectPortReleased(sim);
}

TEST(WindowsPrograms, Lumoscan12PollsBlanksAndEndsOnExit)
{
    const WindowsRun run{"lumoscan12", "LUMO-QSPAR Ver1.2", {"1", "50", "3", "9600"}, 3};
    ProgramDir dir;
    WindowsProgram program(dir, run.program);
    ASSERT_TRUE(dir.writeSettings(run.settings));
    Simulator sim(dir, scenarioOf("block", run.instruments, "silent every=2"));
    pollAndBlank(run, dir, sim, program);

    program.command("click 退出");
    program.command("answer 是(Y)");
    ASSERT_TRUE(program.ended(20000)) << "the program did not end on 退出";
    EXPECT_EQ(program.exitCode(), 0);
    expectPortReleased(sim);
}

// The adapter vanishes while polling (the simulator ends, its pty closes, COM1
// leads nowhere) and comes back: the program blanks every instrument, does
// not spin, and polls again by itself.
TEST(WindowsPrograms, Lumoscan13ResumesOnALineThatCameBack)
{
    const int count = 3;
    ProgramDir dir;
    WindowsProgram program(dir, "lumoscan13");
    ASSERT_TRUE(dir.writeSettings({"1", "50", std::to_string(count), "9600"}));
    const std::string scenario = scenarioOf("modbus", count, "");
    const auto allShown = [&](bool values) {
        const Shown shown = program.shown();
        for (int n = 1; n <= count; ++n)
            if (values ? !shown.showsOwnValues(n) : !shown.text(cellName(n, 0)).empty())
                return false;
        return true;
    };
    auto sim = std::make_unique<Simulator>(dir, scenario);
    ASSERT_TRUE(sim->started());
    linkCom1(*sim);
    program.start();
    ASSERT_TRUE(waitFor([&] { return allShown(true); }, 30000));

    sim.reset();
    QFile::remove(setting("LUMO_WINE_COM1"));
    ASSERT_TRUE(QFile::link(dir.file("adapter-gone"), setting("LUMO_WINE_COM1")));
    EXPECT_TRUE(waitFor([&] { return allShown(false); }, 10000));
    const double before = cpuSecondsOfProgramAndServer(program.pid());
    waitFor([] { return false; }, 2000);
    const double cpu = cpuSecondsOfProgramAndServer(program.pid()) - before;
    EXPECT_LT(cpu, 0.5) << "CPU seconds used over 2 s without a device";

    sim = std::make_unique<Simulator>(dir, scenario);
    ASSERT_TRUE(sim->started());
    linkCom1(*sim);
    EXPECT_TRUE(waitFor([&] { return allShown(true); }, 15000));
    std::printf("[ windows  ] lumoscan13 under Wine: %.2f CPU s over 2 s with the device gone; %zu requests after it came back\n",
                cpu, readLineLog(*sim).requested.size());
}

// ---- the setup file, in a Wine prefix that has nothing else (LUMO_SETUP;
// LUMO_FORMER_SETUP is 1.3.0's, which kept lumo.mdb beside each program)

QString driveC(const QString& path) { return qEnvironmentVariable("WINEPREFIX") + "/drive_c/" + path; }
QString installed(const QString& path = {}) { return driveC("Program Files/lumoscan" + (path.isEmpty() ? "" : "/" + path)); }
QString dataDirectory(const QString& program = {})
{
    return driveC("ProgramData/lumoscan" + (program.isEmpty() ? "" : "/" + program));
}

// Runs a Windows program to its end; the output of reg.exe and the like.
QString runWine(const QStringList& arguments, int* exitCode = nullptr)
{
    QProcess wine;
    wine.start("/usr/lib/wine/wine64", arguments);
    wine.waitForFinished(120000);
    if (exitCode)
        *exitCode = wine.exitCode();
    return QString::fromLocal8Bit(wine.readAllStandardOutput());
}

void install(const QString& setup, const QStringList& options = {})
{
    int code = -1;
    runWine(QStringList{setup, "/S"} + options, &code);
    ASSERT_EQ(code, 0) << setup.toStdString();
}

// What is below a directory, by relative path.
QStringList below(const QString& root)
{
    QStringList left;
    QDirIterator it(root, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        left << QDir(root).relativeFilePath(it.next());
    left.sort();
    return left;
}

// NSIS' uninstaller copies itself away and returns at once: it is done when
// what it leaves is all that is left.
void uninstall(const QStringList& options, const QStringList& leaves, const QString& root = installed())
{
    runWine(QStringList{"C:\\" + QDir(driveC("")).relativeFilePath(root).replace('/', '\\') + "\\uninstall.exe", "/S"} +
            options);
    EXPECT_TRUE(waitFor([&] { return below(root) == leaves; }, 60000)) << "left: " << below(root).join(' ').toStdString();
}

std::string storedInterval(const QString& directory)
{
    return lumo::SqliteSettingsStore(directory.toStdString()).load().fields.timer.value_or("(none)");
}

const QStringList kProgramFiles = {"%1.exe", "qt.conf", "Qt6Core.dll", "Qt6Gui.dll", "Qt6Widgets.dll",
                                   "Qt6Network.dll", "libmosquitto.dll", "libssl-3-x64.dll", "libcrypto-3-x64.dll", "libstdc++-6.dll",
                                   "libgcc_s_seh-1.dll",
                                   "libwinpthread-1.dll", "plugins/platforms/qwindows.dll",
                                   "plugins/styles/qwindowsvistastyle.dll", "translations/qtbase_zh_CN.qm"};

// The commands the setup ran, from its log: every system tool by its full
// path in the system directory; none grants anything on a program
// directory, which keeps the rights Program Files gives it; each data
// directory gives SYSTEM and Administrators full control and the local
// Users modify, and nothing inherited. (Wine keeps no access rights: what
// the commands do is Windows' to show.)
void expectRightsAsked(const QString& log)
{
    int systemTools = 0, programResets = 0, dataGrants = 0;
    for (const QString& line : log.split("\r\n")) {
        if (!line.contains(".exe\" "))
            continue;
        ++systemTools;
        EXPECT_TRUE(line.startsWith("\"C:\\windows\\system32\\icacls.exe\" ", Qt::CaseInsensitive)) << line.toStdString();
        const QString target = line.section('"', 3, 3);
        if (target.startsWith("C:\\Program Files\\lumoscan", Qt::CaseInsensitive)) {
            EXPECT_FALSE(line.contains("/grant")) << "a grant on a program directory: " << line.toStdString();
            programResets += line.contains(" /reset /T ");
        } else if (target.contains("\\ProgramData\\lumoscan\\", Qt::CaseInsensitive)) {
            EXPECT_TRUE(line.contains("/inheritance:r /grant:r *S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F "
                                      "*S-1-5-32-545:(OI)(CI)M "))
                << line.toStdString();
            ++dataGrants;
        } else {
            EXPECT_TRUE(target.endsWith("\\ProgramData\\lumoscan", Qt::CaseInsensitive)) << line.toStdString();
            EXPECT_FALSE(line.contains("*S-1-5-32-545:(OI)(CI)M")) << line.toStdString();
        }
    }
    EXPECT_EQ(programResets, 2) << log.toStdString();
    EXPECT_EQ(dataGrants, 2) << log.toStdString();
    EXPECT_GE(systemTools, 7) << log.toStdString();
}

QString fileText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

TEST(WindowsSetup, InstallsRunsKeepsTheSettingsAndUninstalls)
{
    const QString setup = setting("LUMO_SETUP");
    install(setup);
    for (const QString program : {"lumoscan12", "lumoscan13"}) {
        for (const QString& file : kProgramFiles) {
            const QString path = program + '/' + (file == "%1.exe" ? program + ".exe" : file);
            EXPECT_TRUE(QFile::exists(installed(path))) << path.toStdString();
        }
        EXPECT_FALSE(QFile::exists(installed(program + "/lumo.mdb"))) << "a settings file beside " << program.toStdString();
        EXPECT_EQ(storedInterval(dataDirectory(program)), "200") << "no default settings in the data directory";
    }
    for (const char* file : {"tools/mklumodb.exe", "tools/lumoprobe.exe", "tools/Qt6Core.dll", "README.txt", "uninstall.exe"})
        EXPECT_TRUE(QFile::exists(installed(file))) << file;
    expectRightsAsked(fileText(installed("setup.log")));
    // What the two programs and the tools share is one file on disk.
    for (const auto& [file, lumoscan13s] : {std::pair{"lumoscan12/Qt6Gui.dll", "lumoscan13/Qt6Gui.dll"},
                                            std::pair{"lumoscan12/plugins/platforms/qwindows.dll",
                                                      "lumoscan13/plugins/platforms/qwindows.dll"},
                                            std::pair{"tools/Qt6Core.dll", "lumoscan13/Qt6Core.dll"}}) {
        struct stat shared {}, own {};
        ASSERT_EQ(::stat(QFile::encodeName(installed(file)).constData(), &shared), 0) << file;
        ASSERT_EQ(::stat(QFile::encodeName(installed(lumoscan13s)).constData(), &own), 0) << lumoscan13s;
        EXPECT_EQ(shared.st_ino, own.st_ino) << file << " is a copy of its own";
    }
    QProcess du;
    du.start("du", {"-sk", installed()});
    du.waitForFinished();
    std::printf("[ windows  ] installed: %s", du.readAllStandardOutput().constData());
    const QString startMenu = driveC("ProgramData/Microsoft/Windows/Start Menu/Programs/lumoscan");
    EXPECT_EQ(QDir(startMenu).entryList(QDir::Files),
              QStringList({"LUMO-QSPAR Ver1.2 电磁流量计监测.lnk", "LUMO-QSPAR-MODBUS Ver1.3 电磁流量计监测.lnk"}));
    const QString entry = runWine({"reg", "query", "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\lumoscan"});
    for (const char* value : {"DisplayVersion    REG_SZ    1.3.1", "Publisher    REG_SZ    lumoscan", "EstimatedSize",
                              "UninstallString    REG_SZ    \"C:\\Program Files\\lumoscan\\uninstall.exe\""})
        EXPECT_TRUE(entry.contains(value)) << value << " not in:\n" << entry.toStdString();

    // Each installed program starts on what it installed (nothing on the
    // path): its main window or its start-up message shows.
    for (const auto& [program, title] : {std::pair{"lumoscan12", "LUMO-QSPAR Ver1.2"},
                                         std::pair{"lumoscan13", "LUMO-QSPAR-MODBUS Ver1.3"}}) {
        QProcess plain;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("WINEPATH");
        plain.setProcessEnvironment(env);
        plain.start("/usr/lib/wine/wine64", {installed(QString(program) + '/' + program + ".exe")});
        const QString shown = QString("timeout 30 xdotool search --sync --onlyvisible --name '^(%1|%2)$'").arg(title, program);
        EXPECT_EQ(QProcess::execute("bash", {"-c", shown + " >/dev/null"}), 0) << program << " showed no window";
        plain.kill();
        plain.waitForFinished(5000);
    }

    // The installed lumoscan13 polls through COM1 and an operator's change is
    // stored in its data directory.
    ProgramDir dir;
    Simulator sim(dir, scenarioOf("modbus", 4, ""));
    ASSERT_TRUE(sim.started());
    linkCom1(sim);
    {
        WindowsProgram program(installed("lumoscan13/lumoscan13.exe"), dir.file("probe"));
        program.start();
        EXPECT_TRUE(waitFor([&] { return program.shown().showsOwnValues(1) && program.shown().showsOwnValues(4); }, 30000));
        program.command("click 修改");
        program.command("type 发送间隔\t300");
        program.command("click 确定");
        program.command("answer 是(Y)");
        ASSERT_TRUE(program.ended(20000));
    }
    EXPECT_EQ(storedInterval(dataDirectory("lumoscan13")), "300");
    EXPECT_FALSE(QFile::exists(installed("lumoscan13/lumo.mdb")));

    install(setup);
    EXPECT_EQ(storedInterval(dataDirectory("lumoscan13")), "300") << "a reinstall replaced the settings";

    uninstall({}, {});
    EXPECT_EQ(storedInterval(dataDirectory("lumoscan13")), "300");
    EXPECT_FALSE(QDir(startMenu).exists());
    EXPECT_FALSE(runWine({"reg", "query", "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\lumoscan"})
                     .contains("DisplayName"));

    install(setup);
    uninstall({"/REMOVESETTINGS"}, {});
    EXPECT_TRUE(waitFor([] { return !QDir(installed()).exists() && !QDir(dataDirectory()).exists(); }, 10000))
        << "left: " << below(dataDirectory()).join(' ').toStdString();
}

// 1.3.0 kept lumo.mdb beside each program: the upgrade moves a changed one
// into the data directory, nothing lost, and resets the program
// directories' rights.
TEST(WindowsSetup, AnUpgradeFromTheFormerLayoutMovesTheSettings)
{
    install(setting("LUMO_FORMER_SETUP"));
    ASSERT_EQ(storedInterval(installed("lumoscan13")), "200");
    EXPECT_TRUE(lumo::SqliteSettingsStore(installed("lumoscan13").toStdString()).save({"450", "26", "19200", "com3"}).ok());

    install(setting("LUMO_SETUP"));
    EXPECT_EQ(storedInterval(dataDirectory("lumoscan13")), "450") << "the upgrade lost the changed settings";
    EXPECT_EQ(lumo::SqliteSettingsStore(dataDirectory("lumoscan13").toStdString()).load().fields.com, "3");
    EXPECT_EQ(storedInterval(dataDirectory("lumoscan12")), "200");
    for (const char* program : {"lumoscan12/lumo.mdb", "lumoscan13/lumo.mdb"})
        EXPECT_FALSE(QFile::exists(installed(program))) << program << " is left beside the program";
    expectRightsAsked(fileText(installed("setup.log")).section("lumoscan 1.3.1 setup", -1));

    uninstall({"/REMOVESETTINGS"}, {});
}

// Installed into a directory that held other things before (/D=), the
// uninstaller removes what the setup put there and leaves the rest, a
// folder named as one of its own included.
TEST(WindowsSetup, UninstallLeavesWhatItDidNotPutThere)
{
    const QString host = driveC("lumohost");
    ASSERT_TRUE(QDir().mkpath(host + "/tools"));
    for (const QString& file : {host + "/tools/unrelated.txt", host + "/notes.txt"}) {
        QFile made(file);
        ASSERT_TRUE(made.open(QIODevice::WriteOnly));
        made.write("the maintainer's own\n");
    }
    install(setting("LUMO_SETUP"), {"/D=C:\\lumohost"});
    EXPECT_TRUE(QFile::exists(host + "/tools/lumoprobe.exe"));
    uninstall({"/REMOVESETTINGS"}, {"notes.txt", "tools", "tools/unrelated.txt"}, host);
    QDir(host).removeRecursively();
}

}  // namespace

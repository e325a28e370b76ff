// The single-copy guard and the system ending the program, with real
// processes.

#include "programdir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QSerialPort>

#include <gtest/gtest.h>

#include <csignal>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using lumo::testing::ProgramDir;
using lumo::testing::Simulator;
using lumo::testing::waitFor;

struct Copy {
    // runAs: a command line that starts the program as another user.
    explicit Copy(const QString& program, QProcessEnvironment env = QProcessEnvironment::systemEnvironment(),
                  const QStringList& runAs = {})
    {
        env.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(env);
        if (runAs.isEmpty())
            process.start(program, {});
        else
            process.start(runAs.front(), runAs.mid(1) << program);
        process.waitForStarted(5000);
    }
    ~Copy()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    bool stillRunningAfter(int ms)
    {
        return !waitFor([this] { return process.state() == QProcess::NotRunning; }, ms);
    }
    QProcess process;
};

// With no line at the configured port the program stays up (stopped, with
// its message box open), which is all the guard needs.
TEST(SingleCopy, SecondCopyEndsAtOnceAndTheFirstKeepsRunning)
{
    ProgramDir dir;
    ASSERT_TRUE(dir.writeSettings({}));
    QFile::link("/nonexistent/no-line", dir.file("com1"));
    const QString program13 = dir.addProgram(LUMOSCAN13_PATH);

    Copy first(program13);
    ASSERT_TRUE(first.stillRunningAfter(1500));

    Copy second(program13);
    ASSERT_TRUE(waitFor([&] { return second.process.state() == QProcess::NotRunning; }, 5000));
    EXPECT_EQ(second.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.process.exitCode(), 0);
    EXPECT_TRUE(second.process.readAllStandardOutput().isEmpty());
    EXPECT_EQ(first.process.state(), QProcess::Running);

    // The other program guards only itself.
    const QString program12 = dir.addProgram(LUMOSCAN12_PATH);
    Copy other(program12);
    EXPECT_TRUE(other.stillRunningAfter(1500));
}

TEST(SingleCopy, KilledCopyLeavesNoStaleLock)
{
    ProgramDir dir;
    ASSERT_TRUE(dir.writeSettings({}));
    QFile::link("/nonexistent/no-line", dir.file("com1"));
    const QString program = dir.addProgram(LUMOSCAN13_PATH);
    {
        Copy killed(program);
        ASSERT_TRUE(killed.stillRunningAfter(1500));
        killed.process.kill();
        ASSERT_TRUE(killed.process.waitForFinished(5000));
    }
    Copy next(program);
    EXPECT_TRUE(next.stillRunningAfter(1500));
}

// The lock file Qt's serial layer keeps while a device is open.
QString serialLockOf(const QString& device)
{
    QString name = device.mid(QStringLiteral("/dev/").size());
    return "/var/lock/LCK.." + name.replace('/', '_');
}

// A signal from the system (a logout, a service manager, Ctrl-C) ends the
// program as "退出" would: the port closed and its lock gone, while it polls
// and while a message box waits for the operator.
TEST(SystemEnd, EachSignalEndsInOrderAndReleasesThePort)
{
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        ProgramDir dir;
        ASSERT_TRUE(dir.writeSettings({"1", "200", "3", "9600"}));
        Simulator sim(dir, "protocol modbus\ninstrument 1 flow=1\n");
        ASSERT_TRUE(sim.started());
        const QString lock = serialLockOf(sim.slavePath());
        Copy polling(dir.addProgram(LUMOSCAN13_PATH));
        ASSERT_TRUE(waitFor([&] { return QFile::exists(lock); }, 5000)) << lock.toStdString();
        ASSERT_TRUE(polling.stillRunningAfter(500));
        ::kill(static_cast<pid_t>(polling.process.processId()), signal);
        ASSERT_TRUE(polling.process.waitForFinished(5000));
        EXPECT_EQ(polling.process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(polling.process.exitCode(), 0);
        EXPECT_FALSE(QFile::exists(lock));
        QSerialPort next(sim.slavePath());
        EXPECT_TRUE(next.open(QIODevice::ReadWrite)) << next.errorString().toStdString();
    }
    ProgramDir dir;
    ASSERT_TRUE(dir.writeSettings({}));
    QFile::link("/nonexistent/no-line", dir.file("com1"));
    Copy stopped(dir.addProgram(LUMOSCAN13_PATH));
    ASSERT_TRUE(stopped.stillRunningAfter(1500));  // its start-up message is open
    stopped.process.terminate();
    ASSERT_TRUE(stopped.process.waitForFinished(5000));
    EXPECT_EQ(stopped.process.exitCode(), 0);
}

// Two users may each run the program; each has a lock of their own, in the
// runtime directory or, without one, in a directory of their own under the
// temp directory.
TEST(SingleCopy, TwoUsersEachRunTheirCopy)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "starting a copy as another user needs root";
    constexpr uid_t kOther = 65534;  // nobody
    ProgramDir dir;
    ASSERT_TRUE(dir.writeSettings({}));
    QFile::link("/nonexistent/no-line", dir.file("com1"));
    const QString program = dir.addProgram(LUMOSCAN13_PATH);
    QTemporaryDir temp;
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    ::chmod(QFile::encodeName(temp.path()).constData(), 01777);  // as /tmp is
    ::chmod(QFile::encodeName(dir.file("lumo.mdb")).constData(), 0644);

    Copy mine(program);
    ASSERT_TRUE(mine.stillRunningAfter(1500));
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    EXPECT_EQ(QDir(runtime).entryList({"lumoscan13-*.lock"}, QDir::Files).size(), 1) << runtime.toStdString();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("XDG_RUNTIME_DIR");
    env.insert("TMPDIR", temp.path());
    Copy theirs(program, env,
                {"setpriv", "--reuid=" + QString::number(kOther), "--regid=" + QString::number(kOther),
                 "--clear-groups"});
    EXPECT_TRUE(theirs.stillRunningAfter(1500));
    EXPECT_EQ(mine.process.state(), QProcess::Running);
    const QString own = temp.filePath("lumoscan-" + QString::number(kOther));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(own).constData(), &st), 0);
    EXPECT_EQ(st.st_uid, kOther);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // An orderly end leaves no lock file lying around.
    mine.process.terminate();
    ASSERT_TRUE(mine.process.waitForFinished(5000));
    EXPECT_TRUE(QDir(runtime).entryList({"lumoscan13-*.lock"}, QDir::Files).isEmpty());
}

}  // namespace

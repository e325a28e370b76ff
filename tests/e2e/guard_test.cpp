// The single-copy guard with real processes.

#include "programdir.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

namespace {

using lumo::testing::ProgramDir;
using lumo::testing::waitFor;

struct Copy {
    explicit Copy(const QString& program)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(env);
        process.start(program, {});
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

}  // namespace

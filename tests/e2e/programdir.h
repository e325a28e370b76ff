#pragma once
// A temporary program directory for end-to-end runs: a copy of the program
// (the program finds lumo.mdb and its comN links beside itself), its own
// settings file, and links to the simulator's line.

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <string>

namespace lumo::testing {

struct Settings {
    std::string com = "1", timer = "200", num = "13", baud = "9600";
};

class ProgramDir {
public:
    ProgramDir();

    QString path() const { return dir_.path(); }
    QString file(const QString& name) const { return dir_.filePath(name); }

    // Copies a built program in; returns its path inside the directory.
    QString addProgram(const QString& builtProgram);
    // Writes lumo.mdb with these fields (through the build's mklumodb).
    bool writeSettings(const Settings& settings);

private:
    QTemporaryDir dir_;
};

// lumosim on a pseudo-terminal, its slave linked as <dir>/com1, logging to
// <dir>/lumosim.log. Stopped (and the link removed) when destroyed.
class Simulator {
public:
    Simulator(const ProgramDir& dir, const std::string& scenario, const QStringList& extraArgs = {});
    ~Simulator();

    bool started() const { return started_; }
    QString slavePath() const { return slave_; }
    qint64 pid() const { return process_.processId(); }
    QString logPath() const { return log_; }
    // Lines of the log so far.
    QStringList logLines() const;
    QString errors();

private:
    QProcess process_;
    QString slave_;
    QString log_;
    bool started_ = false;
};

// Runs the event loop until the condition holds or the time is up.
template <class Condition>
bool waitFor(Condition condition, int timeoutMs);

}  // namespace lumo::testing

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

template <class Condition>
bool lumo::testing::waitFor(Condition condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(500);
    }
    return true;
}

#include "programdir.h"

#include <sys/resource.h>

#include <QFile>
#include <QTextStream>

namespace lumo::testing {

ProgramDir::ProgramDir() { dir_.setAutoRemove(true); }

QString ProgramDir::addProgram(const QString& builtProgram)
{
    const QString target = file(QFileInfo(builtProgram).fileName());
    QFile::remove(target);
    QFile::copy(builtProgram, target);
    QFile::setPermissions(target, QFile::permissions(builtProgram));
    return target;
}

bool ProgramDir::writeSettings(const Settings& s)
{
    QFile::remove(file("lumo.mdb"));
    const int rc = QProcess::execute(QStringLiteral(LUMO_MKLUMODB),
                                     {file("lumo.mdb"), QString::fromStdString(s.com), QString::fromStdString(s.timer),
                                      QString::fromStdString(s.num), QString::fromStdString(s.baud)});
    return rc == 0;
}

Simulator::Simulator(const ProgramDir& dir, const std::string& scenario, const QStringList& extraArgs)
{
    const QString scenarioPath = dir.file("scenario.txt");
    {
        QFile f(scenarioPath);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return;
        f.write(scenario.data(), static_cast<qint64>(scenario.size()));
    }
    log_ = dir.file("lumosim.log");
    QStringList args = {"--scenario", scenarioPath, "--pty", "--link", dir.file("com1"), "--log", log_,
                        "--exit-on-stdin-eof"};
    args << extraArgs;
    process_.start(QStringLiteral(LUMO_LUMOSIM), args);
    if (!process_.waitForStarted(5000))
        return;
    // The simulator stands in for instruments, which have processors of
    // their own: on a loaded machine it must not be the side that waits for
    // the processor, or its own lateness would pass for the station's line
    // being held up. Raised where that is permitted (as root).
    setpriority(PRIO_PROCESS, static_cast<id_t>(process_.processId()), -10);
    // The first line is the slave's path; the link exists once it is printed.
    if (!waitFor([this] { return process_.canReadLine() || process_.state() != QProcess::Running; }, 5000))
        return;
    slave_ = QString::fromLocal8Bit(process_.readLine()).trimmed();
    started_ = !slave_.isEmpty() && QFileInfo::exists(dir.file("com1"));
}

Simulator::~Simulator()
{
    if (process_.state() == QProcess::Running) {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(2000)) {
            process_.terminate();
            if (!process_.waitForFinished(2000))
                process_.kill();
        }
    }
}

QStringList Simulator::logLines() const
{
    QFile f(log_);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList lines;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (!line.trimmed().isEmpty())
            lines << QString::fromUtf8(line);
    return lines;
}

QString Simulator::errors() { return QString::fromLocal8Bit(process_.readAllStandardError()); }

}  // namespace lumo::testing

// lumoprobe on a line: it finds exactly the instruments there, in their
// protocol, served by lumosim and by a Modbus slave this project did not
// write (pymodbus, which hunts for frames byte by byte); it refuses a port a
// station holds; and when the device goes away in the middle of a scan it
// says so and ends with a status that is not 0.

#include "programdir.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPort>

#include <gtest/gtest.h>

#include <vector>

#include <sys/resource.h>

namespace {

using namespace lumo::testing;

std::string instrument(int n)
{
    return "instrument " + std::to_string(n) + " flow=" + std::to_string(n) + ".5 diameter=100 alarms=none\n";
}

struct Probed {
    int exitCode = -1;
    QString errors;
    QJsonObject report;
};

Probed probe(const QStringList& arguments, const std::function<void()>& meanwhile = {})
{
    QProcess lumoprobe;
    lumoprobe.start(QStringLiteral(LUMO_LUMOPROBE), arguments);
    if (meanwhile)
        meanwhile();
    lumoprobe.waitForFinished(120000);
    return {lumoprobe.exitCode(), QString::fromUtf8(lumoprobe.readAllStandardError()),
            QJsonDocument::fromJson(lumoprobe.readAllStandardOutput()).object()};
}

// A pymodbus RTU server on one end of a socat pair; the other end is com1.
struct PymodbusLine {
    explicit PymodbusLine(const ProgramDir& dir, const QStringList& addresses)
    {
        line.start("socat", {"pty,raw,echo=0,link=" + dir.file("com1"), "pty,raw,echo=0,link=" + dir.file("slave")});
        waitFor([&] { return QFileInfo::exists(dir.file("slave")) && QFileInfo::exists(dir.file("com1")); }, 5000);
        slave.start("/usr/bin/python3", QStringList{QStringLiteral(LUMO_PYMODBUS_SLAVE), dir.file("slave"), "9600"} +
                                            addresses);
        // Like the simulator, the wire and the slave stand in for hardware:
        // on a loaded machine they must not be the ones kept waiting.
        for (const QProcess* p : {&line, &slave})
            setpriority(PRIO_PROCESS, static_cast<id_t>(p->processId()), -10);
        waitFor([&] { return slave.canReadLine() || slave.state() == QProcess::NotRunning; }, 15000);
    }
    ~PymodbusLine()
    {
        slave.kill();
        slave.waitForFinished(3000);
        line.kill();
        line.waitForFinished(3000);
    }
    QProcess line, slave;
};

// Exactly the instruments there, each in its own protocol, with its answer
// time: from lumosim in either protocol, and from pymodbus, which a block
// request just before a Modbus request to the same address would make throw
// the Modbus one away.
TEST(Lumoprobe, FindsExactlyTheInstrumentsThereInTheirProtocol)
{
    const struct {
        const char* name;
        const char* protocol;  // what they speak
        const char* baud;
        std::vector<int> addresses;
        double leastAnswerMs;  // lumosim takes 5 ms to answer, pymodbus less than one
        bool pymodbus = false;
    } cases[] = {
        {"lumosim, block protocol", "block", "19200", {2, 7, 31}, 5.0},
        {"lumosim, Modbus", "modbus", "19200", {2, 7, 31}, 5.0},
        {"pymodbus", "modbus", "9600", {3, 8, 21}, 0.0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramDir dir;
        std::unique_ptr<Simulator> sim;
        std::unique_ptr<PymodbusLine> pymodbus;
        if (c.pymodbus) {
            QStringList addresses;
            for (int a : c.addresses)
                addresses << QString::number(a);
            pymodbus = std::make_unique<PymodbusLine>(dir, addresses);
            ASSERT_EQ(pymodbus->slave.state(), QProcess::Running) << pymodbus->slave.readAllStandardError().toStdString();
        } else {
            std::string scenario = std::string("protocol ") + c.protocol + "\n";
            for (int a : c.addresses)
                scenario += instrument(a);
            sim = std::make_unique<Simulator>(dir, scenario, QStringList{"--baud", c.baud, "--turnaround-ms", "5"});
            ASSERT_TRUE(sim->started());
        }
        const Probed probed = probe({"--baud", c.baud, "--json", "--dir", dir.path(), "1"});
        EXPECT_EQ(probed.exitCode, 0) << probed.errors.toStdString();
        std::vector<int> addresses;
        for (const QJsonValue& value : probed.report.value("found").toArray()) {
            const QJsonObject f = value.toObject();
            EXPECT_EQ(f.value("protocol").toString(), c.protocol);
            EXPECT_EQ(f.value("baud").toInt(), QString(c.baud).toInt());
            EXPECT_TRUE(f.value("answered").toBool()) << f.value("problem").toString().toStdString();
            EXPECT_GT(f.value("answer_ms").toDouble(), c.leastAnswerMs);
            addresses.push_back(f.value("address").toInt());
        }
        EXPECT_EQ(addresses, c.addresses);
        EXPECT_EQ(probed.report.value("port").toString(), "1");
        EXPECT_TRUE(probed.report.value("failure").isNull());
        std::printf("[ probe    ] %s at %s baud: %s", c.name, c.baud, probed.errors.toUtf8().constData());
    }
}

TEST(Lumoprobe, RefusesAPortAStationHolds)
{
    ProgramDir dir;
    Simulator sim(dir, "protocol modbus\n" + instrument(2));
    QSerialPort station(sim.slavePath());
    ASSERT_TRUE(station.open(QIODevice::ReadWrite));
    const Probed probed = probe({"--json", "--dir", dir.path(), "COM1"});
    EXPECT_EQ(probed.exitCode, 3);
    EXPECT_TRUE(probed.errors.contains(QString::fromUtf8("串口正被另一个程序使用（进程号 ") +
                                       QString::number(QCoreApplication::applicationPid())))
        << probed.errors.toStdString();
    EXPECT_TRUE(probed.errors.contains("a station may be polling this port")) << probed.errors.toStdString();
}

// The device goes away a second into the scan (an adapter pulled out): the
// scan ends there, says what failed and where, reports what it had found
// under the device path it was given, and its status is not 0.
TEST(Lumoprobe, ADeviceThatGoesAwayEndsTheScanWithTheReason)
{
    ProgramDir dir;
    auto sim = std::make_unique<Simulator>(dir, "protocol block\n" + instrument(1), QStringList{"--baud", "19200"});
    ASSERT_TRUE(sim->started());
    const QString device = sim->slavePath();
    QElapsedTimer clock;
    clock.start();
    const Probed probed = probe({"--baud", "19200", "--json", device}, [&] {
        waitFor([] { return false; }, 1000);
        sim.reset();
    });
    EXPECT_EQ(probed.exitCode, 4) << probed.errors.toStdString();
    EXPECT_TRUE(probed.errors.contains("lumoprobe: the scan ended early: 19200 baud: cannot ask address"))
        << probed.errors.toStdString();
    EXPECT_EQ(probed.report.value("port").toString(), device);
    EXPECT_TRUE(probed.report.value("failure").toString().contains("cannot ask address"))
        << QJsonDocument(probed.report).toJson().toStdString();
    const QJsonArray found = probed.report.value("found").toArray();
    ASSERT_EQ(found.size(), 1);
    EXPECT_EQ(found[0].toObject().value("address").toInt(), 1);
    EXPECT_TRUE(probed.report.value("bauds").toArray().isEmpty()) << "19200 baud was not scanned whole";
    EXPECT_LT(clock.elapsed(), 5000);
    std::printf("[ probe    ] device gone: %s", probed.errors.toUtf8().constData());
}

}  // namespace

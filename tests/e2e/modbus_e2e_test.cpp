// lumoscan13 end to end: the real start-up, settings file, Qt serial layer,
// poll timer and windows (offscreen) against lumosim, and once against a
// Modbus slave this project did not write.

#include "modbuspoller.h"
#include "linelog.h"
#include "linerecorder.h"
#include "stationrun.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <algorithm>

#include <gtest/gtest.h>

namespace {

using namespace lumo::testing;

const std::vector<std::string> kWorkedExample = {"12.5", "1.25", "50", "3.3", "1234.5678", "0", "100",
                                                 "通讯正常,空管报警"};

std::vector<std::string> cellsOf(StationRun& run, int n)
{
    std::vector<std::string> texts;
    for (int r = 0; r < 8; ++r)
        texts.push_back(run.cell(n, r));
    return texts;
}

std::vector<int> requestedAddresses(const Simulator& sim)
{
    std::vector<int> addresses;
    for (const QString& line : sim.logLines()) {
        const QJsonObject event = QJsonDocument::fromJson(line.toUtf8()).object();
        if (event.value("ev").toString() != "rx")
            continue;
        const QByteArray frame = QByteArray::fromHex(event.value("hex").toString().toLatin1());
        if (frame.size() == 8)
            addresses.push_back(uint8_t(frame[0]));
    }
    return addresses;
}

TEST(ModbusEndToEnd, WorkedExampleReachesTheCells)
{
    ProgramDir dir;
    ASSERT_TRUE(dir.writeSettings({"1", "100", "1", "9600"}));
    Simulator sim(dir,
                  "protocol modbus\n"
                  "instrument 1 flow=12.5 velocity=1.25 percent=50 resistance=3.3 forward=1234.5678 reverse=0 "
                  "diameter=100 alarms=empty\n");
    ASSERT_TRUE(sim.started()) << sim.errors().toStdString();
    StationRun run(dir, Protocol::Modbus);
    ASSERT_EQ(run.station->start(), lumo::StartupResult::Polling)
        << (run.dialogs.informed.empty() ? "" : run.dialogs.informed[0]);

    EXPECT_TRUE(waitFor([&] { return cellsOf(run, 1) == kWorkedExample; }, 10000));
    EXPECT_EQ(cellsOf(run, 1), kWorkedExample);
    EXPECT_TRUE(run.grid().activityShown(1) || !requestedAddresses(sim).empty());
}

// More than 3 instruments: answers chain the next request at once; a silent
// instrument is blanked and the others keep their values.
TEST(ModbusEndToEnd, ChainedSweepWithASilentInstrument)
{
    ProgramDir dir;
    ASSERT_TRUE(dir.writeSettings({"1", "200", "5", "19200"}));
    std::string scenario = "protocol modbus\n";
    for (int n = 1; n <= 5; ++n) {
        if (n == 4)
            scenario += "instrument 4 silent\n";
        else
            scenario += "instrument " + std::to_string(n) + " flow=" + std::to_string(n) +
                        ".5 velocity=1 percent=2 resistance=3 forward=" + std::to_string(100 * n) +
                        ".25 reverse=7 diameter=50 alarms=none\n";
    }
    Simulator sim(dir, scenario, {"--baud", "19200"});
    ASSERT_TRUE(sim.started()) << sim.errors().toStdString();
    LineRecorder recorder;
    StationRun run(dir, Protocol::Modbus, [&](lumo::StationConfig& config) { recorder.installIn(config); });
    CellRecorder cells(run.grid());
    ASSERT_EQ(run.station->start(), lumo::StartupResult::Polling);

    auto healthy = [&] {
        for (int n : {1, 2, 3, 5})
            if (run.cell(n, 0) != std::to_string(n) + ".5" || run.cell(n, 4) != std::to_string(100 * n) + ".25")
                return false;
        return true;
    };
    ASSERT_TRUE(waitFor(healthy, 10000));
    // Let several sweeps pass: healthy instruments are never blanked by a
    // tick racing the chain. A blanking is excused only where the line held
    // that very exchange up (the simulator read the request, or sent its
    // answer, too late for the tick that judged it) or the kernel kept the
    // station's thread from a CPU from the answer to that tick: a busy
    // machine can stall a pseudo-terminal or a process that long; a station
    // that holds up its own loop is not excused.
    const std::int64_t from = monotonicUs();
    waitFor([] { return false; }, 2000);
    const std::vector<Exchange> exchanges = exchangesOf(recorder, sim);
    // A Modbus answer, 57 bytes at 19200 baud.
    const std::chrono::microseconds answerOnTheWire(29688);
    int excused = 0;
    for (const CellRecorder::Change& change : cells.changes) {
        if (change.slot != 0 || !change.text.empty() || change.atUs < from || change.instrument == 4)
            continue;
        const Exchange* judged = nullptr;
        for (const Exchange& exchange : exchanges)
            if (exchange.address == change.instrument && exchange.writtenUs < change.atUs)
                judged = &exchange;
        const bool heldUp = judged && heldUpOutsideTheStation(*judged, answerOnTheWire);
        EXPECT_TRUE(heldUp) << "healthy instrument " << change.instrument << " blanked "
                            << (judged ? "though the simulator read its request " +
                                             (judged->readUs ? std::to_string(*judged->readUs - judged->writtenUs) + " us"
                                                             : std::string("never")) +
                                             " after it was written and the station waited " +
                                             std::to_string(judged->queuedUs.value_or(-1)) + " us for a CPU before the tick " +
                                             (judged->judgedUs ? std::to_string(*judged->judgedUs - judged->writtenUs) : std::string("-")) +
                                             " us after it"
                                       : std::string("with no request to it"));
        excused += heldUp;
    }
    if (excused > 0)
        std::printf("[ held up  ] %d blankings where the line or the machine held the exchange up\n", excused);
    for (int r = 0; r < 8; ++r)
        EXPECT_EQ(run.cell(4, r), "");
    // Instrument 5 shows its state (again, after a blanking excused above).
    EXPECT_TRUE(waitFor([&] { return run.cell(5, 7) == "通讯正常"; }, 5000)) << run.cell(5, 7);
    // The chain polls far faster than the 200 ms ticks alone would.
    EXPECT_GT(requestedAddresses(sim).size(), 2000u / 200u * 2);
}

TEST(ModbusEndToEnd, ThirdPartySlave)
{
    ProgramDir dir;
    ASSERT_TRUE(dir.writeSettings({"1", "200", "1", "9600"}));
    QProcess line;
    line.start("socat", {"pty,raw,echo=0,link=" + dir.file("com1"), "pty,raw,echo=0,link=" + dir.file("slave")});
    ASSERT_TRUE(waitFor([&] { return QFileInfo::exists(dir.file("slave")) && QFileInfo::exists(dir.file("com1")); },
                        5000));
    QProcess slave;
    slave.start("/usr/bin/python3", {QStringLiteral(LUMO_PYMODBUS_SLAVE), dir.file("slave"), "9600"});
    ASSERT_TRUE(waitFor([&] { return slave.canReadLine() || slave.state() == QProcess::NotRunning; }, 15000));
    ASSERT_EQ(slave.state(), QProcess::Running) << slave.readAllStandardError().toStdString();

    StationRun run(dir, Protocol::Modbus);
    ASSERT_EQ(run.station->start(), lumo::StartupResult::Polling);
    EXPECT_TRUE(waitFor([&] { return cellsOf(run, 1) == kWorkedExample; }, 15000));
    EXPECT_EQ(cellsOf(run, 1), kWorkedExample);

    run.station.reset();
    slave.kill();
    slave.waitForFinished(3000);
    line.kill();
    line.waitForFinished(3000);
}

}  // namespace

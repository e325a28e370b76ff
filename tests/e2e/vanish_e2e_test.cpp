// The serial adapter vanishes while polling (the simulator ends and its pty
// master closes) and comes back under the same comN link: no crash, no busy
// loop, the instruments are blanked by their time-outs, and polling resumes
// without a restart.

#include "linelog.h"
#include "stationrun.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <gtest/gtest.h>

#include <ctime>

namespace {

using namespace lumo::testing;

constexpr int kCount = 3;

std::string scenario(Protocol protocol)
{
    std::string s = protocol == Protocol::Block ? "protocol block\n" : "protocol modbus\n";
    for (int n = 1; n <= kCount; ++n)
        s += "instrument " + std::to_string(n) + " flow=" + std::to_string(n) + ".5 diameter=100 alarms=none\n";
    return s;
}

bool allFilled(StationRun& run)
{
    for (int n = 1; n <= kCount; ++n)
        if (run.cell(n, 0) != std::to_string(n) + ".5")
            return false;
    return true;
}

bool allBlank(StationRun& run)
{
    for (int n = 1; n <= kCount; ++n)
        for (int slot = 0; slot < lumo::kSlots; ++slot)
            if (!run.cell(n, slot).empty())
                return false;
    return true;
}

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Runs the event loop itself (blocking in it, unlike waitFor) so that the
// CPU time measured is the station's own.
double cpuSecondsOfEventLoop(int ms)
{
    const double before = processCpuSeconds();
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return processCpuSeconds() - before;
}

class AdapterVanishes : public ::testing::TestWithParam<Protocol> {};

TEST_P(AdapterVanishes, BlanksEveryInstrumentThenResumesOnTheSameLink)
{
    const Protocol protocol = GetParam();
    ProgramDir dir;
    ASSERT_TRUE(dir.writeSettings({"1", "50", std::to_string(kCount), "9600"}));
    auto sim = std::make_unique<Simulator>(dir, scenario(protocol));
    ASSERT_TRUE(sim->started()) << sim->errors().toStdString();
    StationRun run(dir, protocol);
    CellRecorder cells(run.grid());
    // The statistics say what happened at every moment: no instrument is
    // ever said to have left more requests unanswered than it was sent.
    std::string overCounted;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        for (int n = 1; n <= kCount; ++n) {
            const lumo::InstrumentStats& stats = run.station->pollCycle().lineStats().instrument(n);
            if (stats.unanswered > stats.requests && overCounted.empty())
                overCounted = run.lineReport(n);
        }
    });
    watch.start(5);
    ASSERT_EQ(run.station->start(), lumo::StartupResult::Polling);
    ASSERT_TRUE(waitFor([&] { return allFilled(run); }, 8000));

    // The pty master closes. lumosim removes its link on the way out; an
    // operator's com1 link stays and now points at nothing, like a
    // /dev/serial/by-id/... link whose adapter was pulled. Without any link
    // COM1 would be /dev/ttyS0, a different device.
    sim.reset();
    ASSERT_TRUE(QFile::link(dir.file("adapter-gone"), dir.file("com1")));
    EXPECT_TRUE(waitFor([&] { return allBlank(run); }, 5000));
    for (int n = 1; n <= kCount; ++n)
        EXPECT_TRUE(cells.blankedAfterValue(n)) << n;

    // A lost device must not leave the event loop spinning on it.
    const double cpu = cpuSecondsOfEventLoop(1500);
    EXPECT_LT(cpu, 0.4) << "CPU seconds used over 1.5 s without a device";
    EXPECT_TRUE(run.dialogs.informed.empty());
    EXPECT_TRUE(run.station->pollTimer().enabled());
    std::uint64_t failedWrites = 0;
    for (int n = 1; n <= kCount; ++n)
        failedWrites += run.station->pollCycle().lineStats().instrument(n).failedWrites;
    EXPECT_GT(failedWrites, 0u) << "the writes to a device that is gone are counted as failed";
    EXPECT_EQ(overCounted, "") << "more unanswered than requests";

    sim = std::make_unique<Simulator>(dir, scenario(protocol));
    ASSERT_TRUE(sim->started()) << sim->errors().toStdString();
    EXPECT_TRUE(waitFor([&] { return allFilled(run); }, 8000));
    EXPECT_FALSE(readLineLog(*sim).requested.empty());
    std::printf("[ vanish ] %s: %.3f CPU s over 1.5 s with the device gone\n",
                protocol == Protocol::Block ? "block" : "modbus", cpu);
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, AdapterVanishes, ::testing::Values(Protocol::Block, Protocol::Modbus),
                         [](const ::testing::TestParamInfo<Protocol>& info) {
                             return std::string(info.param == Protocol::Block ? "lumoscan12" : "lumoscan13");
                         });

}  // namespace

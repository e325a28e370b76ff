// Answer to screen: from the moment the last byte of an answer leaves the
// simulator (its log's t_us) to the moment the instrument's cells hold the
// new texts (the last cell change of that instrument after the answer), both
// on CLOCK_MONOTONIC. A whole station in this process, offscreen.
//   screen_bench [seconds] [protocol: modbus|block]

#include "gridmodel.h"
#include "stationrun.h"

#include <QApplication>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using lumo::testing::ProgramDir;
using lumo::testing::Protocol;
using lumo::testing::Simulator;
using lumo::testing::StationRun;

std::int64_t nowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Change {
    std::int64_t tUs;
    int instrument;
};

class ChangeClock : public lumo::GridObserver {
public:
    void cellChanged(int instrument, int, const std::string&) override { changes.push_back({nowUs(), instrument}); }
    void activityChanged(int, bool) override {}
    void pageVisibilityChanged(int, bool) override {}
    std::vector<Change> changes;
};

std::string scenario(bool modbus)
{
    std::string text = modbus ? "protocol modbus\n" : "protocol block\n";
    for (int a = 1; a <= lumo::kInstruments; ++a)
        text += "instrument " + std::to_string(a) + " flow=" + std::to_string(a * 10) + "~" + std::to_string(a) +
                "/3 velocity=1~0.5/5 percent=50~20/7 resistance=3.3 forward=1000+7.5/s diameter=100 alarms=none\n";
    return text;
}

// For every answer, the delay to its instrument's cells: the first change of
// that instrument after the answer and before the next request, extended to
// the last change of the same burst (a Modbus answer sets eight cells).
std::vector<double> delaysMs(const QStringList& log, const std::vector<Change>& changes)
{
    struct Event {
        std::int64_t tUs;
        bool answer;
        int to;
    };
    std::vector<Event> events;
    for (const QString& line : log) {
        const QJsonObject ev = QJsonDocument::fromJson(line.toUtf8()).object();
        const QString kind = ev.value("ev").toString();
        if (kind == "tx" || kind == "rx")
            events.push_back({static_cast<std::int64_t>(ev.value("t_us").toDouble()), kind == "tx", ev.value("to").toInt()});
    }
    std::vector<double> delays;
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (!events[i].answer)
            continue;
        std::int64_t end = events[i].tUs + 1'000'000;
        for (std::size_t j = i + 1; j < events.size(); ++j)
            if (!events[j].answer) {
                end = events[j].tUs;
                break;
            }
        std::int64_t first = -1, last = -1;
        for (const Change& c : changes) {
            if (c.instrument != events[i].to || c.tUs < events[i].tUs || c.tUs >= end)
                continue;
            if (first < 0)
                first = c.tUs;
            if (c.tUs < first + 2000)
                last = c.tUs;
        }
        if (last >= 0)
            delays.push_back(static_cast<double>(last - events[i].tUs) / 1000.0);
    }
    return delays;
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    const auto k = static_cast<std::size_t>(p / 100.0 * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(k, values.size() - 1)];
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    const bool modbus = argc <= 2 || std::string(argv[2]) != "block";

    ProgramDir dir;
    if (!dir.writeSettings({"1", "200", "39", "9600"}))
        return 1;
    Simulator sim(dir, scenario(modbus), {"--baud", "9600"});
    if (!sim.started()) {
        std::fprintf(stderr, "screen_bench: %s\n", sim.errors().toStdString().c_str());
        return 1;
    }
    ChangeClock clock;  // outlives the station, which may still change cells as it ends
    StationRun run(dir, modbus ? Protocol::Modbus : Protocol::Block);
    run.grid().addObserver(&clock);
    if (run.station->start() != lumo::StartupResult::Polling)
        return 1;
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();

    const std::vector<double> delays = delaysMs(sim.logLines(), clock.changes);
    if (delays.empty()) {
        std::printf("screen %s: no answer reached the cells\n", modbus ? "lumoscan13" : "lumoscan12");
        return 1;
    }
    std::printf("screen %s over %zu answers: median %.3f ms, p99 %.3f ms, max %.3f ms\n",
                modbus ? "lumoscan13" : "lumoscan12", delays.size(), percentile(delays, 50), percentile(delays, 99),
                percentile(delays, 100));
    return 0;
}

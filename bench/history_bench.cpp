// The history's costs on a history as long as a station keeps: 39
// instruments over ten years (the last 90 days in minutes, the rest in
// hours), made up and written through the history file itself.
//   history_bench <directory> [years] [trend]
// ("trend": the trend window's figures alone, over the file already made).
// Prints the file's size, the minute transaction's time (a day of minutes
// appended to that file, each as the recorder hands it over), the trend
// window's first paint and its redraw while dragging, and lumohistory's
// exports. The file is kept in <directory> for a second run (delete it to
// make it anew).

#include "historyfile.h"
#include "localclock.h"
#include "plotwidget.h"
#include "stationfont.h"
#include "synthetic.h"
#include "trendwindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QMouseEvent>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using namespace lumo;
using namespace lumo::history;
using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Figures {
    double median = 0, p99 = 0, worst = 0;
};

Figures figuresOf(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    if (ms.empty())
        return {};
    return {ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 99 / 100)], ms.back()};
}

std::vector<int> allInstruments()
{
    std::vector<int> all;
    for (int n = 1; n <= 39; ++n)
        all.push_back(n);
    return all;
}

// Time from asking the trend window for a range to its chart painted.
double firstPaint(TrendWindow& trend, const std::vector<int>& instruments, std::int64_t fromMs, std::int64_t toMs)
{
    QEventLoop loop;
    bool drawn = false;
    trend.setOnDrawn([&] {
        drawn = true;
        loop.quit();
    });
    const auto start = Clock::now();
    trend.showInstruments(instruments, 0);
    trend.showRange(fromMs, toMs);
    QTimer::singleShot(30'000, &loop, &QEventLoop::quit);
    if (!drawn)
        loop.exec();
    trend.plot()->repaint();
    return drawn ? msSince(start) : -1;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    applyStationFont();
    if (argc < 2) {
        std::fprintf(stderr, "usage: history_bench <directory> [years]\n");
        return 2;
    }
    const int years = argc > 2 ? std::atoi(argv[2]) : 10;
    QDir().mkpath(QString::fromLocal8Bit(argv[1]));
    const std::string path = QDir(QString::fromLocal8Bit(argv[1])).filePath("history.db").toStdString();
    const std::int64_t day = 24 * kHourMs;
    const std::int64_t now = utcNowMs() / kHourMs * kHourMs;

    // A long history: 39 instruments, minutes for the last 90 days, hours
    // before that; two silences and an alarm a month in each.
    if (!QFileInfo::exists(QString::fromStdString(path))) {
        SyntheticPlan plan;
        plan.instruments = allInstruments();
        plan.fromMs = now - years * 365 * day;
        plan.toMs = now;
        plan.minutesFromMs = now - 90 * day;
        for (std::int64_t t = plan.fromMs; t < now; t += 30 * day) {
            plan.silences.push_back({static_cast<int>(t / day % 39) + 1, t + 3 * kHourMs, t + 4 * kHourMs, ""});
            plan.alarms.push_back({static_cast<int>(t / day % 37) + 2, t + 10 * kHourMs, t + 12 * kHourMs, "empty_pipe"});
        }
        HistoryFile file;
        const auto start = Clock::now();
        int daysWritten = 0;
        auto fault = file.openForWriting(path);
        if (!fault)
            fault = writeSynthetic(file, plan, localDayOf, [&](const std::string& d) {
                if (++daysWritten % 365 == 0)
                    std::fprintf(stderr, "  %s written, %.0f s\n", d.c_str(), msSince(start) / 1000);
            });
        if (fault) {
            std::fprintf(stderr, "history_bench: %s\n", fault->message.c_str());
            return 1;
        }
        std::printf("made %d years of 39 instruments in %.0f s\n", years, msSince(start) / 1000);
    }
    const auto size = QFileInfo(QString::fromStdString(path)).size();
    {
        HistoryFile file;
        file.openForReading(path);
        const auto minutes = file.periods(Period::Minutes, {1}, 0, now + day).value().size();
        const auto hours = file.periods(Period::Hours, {1}, 0, now + day).value().size();
        std::printf("size: %d years of 39 instruments (minutes for the last 90 days, hours before): %.1f MB "
                    "(%lld bytes; instrument 1 has %zu minute and %zu hour rows), goal under 1 GB\n",
                    years, static_cast<double>(size) / 1e6, static_cast<long long>(size), minutes, hours);
    }

    const bool trendOnly = argc > 3 && std::string(argv[3]) == "trend";
    // The minute transaction: a day of minutes appended, as the recorder
    // hands them over (39 minute rows and what they add to their days).
    if (!trendOnly) {
        HistoryFile file;
        file.openForWriting(path);
        std::vector<double> ms, checkpoints;
        const auto instruments = allInstruments();
        for (int m = 0; m < 1440; ++m) {
            const Batch batch = syntheticMinute(instruments, now + m * kMinuteMs, localDayOf);
            auto start = Clock::now();
            if (auto fault = file.write(batch)) {
                std::fprintf(stderr, "history_bench: %s\n", fault->message.c_str());
                return 1;
            }
            ms.push_back(msSince(start));
            // As the writer does: every ten minutes, apart from them.
            if ((m + 1) % 10 == 0) {
                start = Clock::now();
                file.checkpoint();
                checkpoints.push_back(msSince(start));
            }
        }
        const Figures f = figuresOf(ms), c = figuresOf(checkpoints);
        const auto start = Clock::now();
        file.dropOld(now + day, years, localDayOf(now + day - years * 366 * day));
        std::printf("minute transaction over a day of minutes (39 rows + 39 day rows, synchronous, WAL): median %.2f ms, "
                    "p99 %.2f ms, worst %.2f ms (goal under 5 ms worst); apart from it, on the writer's thread: the "
                    "checkpoint every ten minutes median %.2f ms, worst %.2f ms; the hourly clean-up %.1f ms\n",
                    f.median, f.p99, f.worst, c.median, c.worst, msSince(start));
    }

    // The trend window over that file.
    {
        TrendWindow trend(path, 39);
        trend.resize(980, 560);
        trend.show();
        const double dayOfOne = firstPaint(trend, {1}, now - day, now);
        const double yearOfOne = firstPaint(trend, {1}, now - 365 * day, now);
        const double monthOfFour = firstPaint(trend, {1, 2, 3, 4}, now - 30 * day, now);
        std::printf("trend first paint: a day of one instrument %.0f ms (goal 100), a year of one %.0f ms (goal 300), "
                    "a month of four overlaid %.0f ms (goal 300)\n",
                    dayOfOne, yearOfOne, monthOfFour);
        // Dragging: each step moves the range and repaints with what was read.
        PlotWidget* plot = trend.plot();
        const QPointF from(plot->width() / 2.0, plot->height() / 2.0);
        QMouseEvent press(QEvent::MouseButtonPress, from, plot->mapToGlobal(from), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(plot, &press);
        std::vector<double> ms;
        for (int step = 1; step <= 120; ++step) {
            const QPointF at(from.x() - step * 2, from.y());
            QMouseEvent move(QEvent::MouseMove, at, plot->mapToGlobal(at), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
            const auto start = Clock::now();
            QApplication::sendEvent(plot, &move);
            plot->repaint();
            ms.push_back(msSince(start));
        }
        const Figures f = figuresOf(ms);
        std::printf("trend redraw while dragging a month of four (120 steps): median %.2f ms, worst %.2f ms "
                    "(goal under 16 ms)\n",
                    f.median, f.worst);
    }

    if (trendOnly)
        return 0;
    // lumohistory, as a scheduled job runs it.
    const auto exportTime = [&](const QStringList& args) {
        QProcess p;
        const auto start = Clock::now();
        p.start(QStringLiteral(LUMO_LUMOHISTORY), QStringList{"export"} << args << "--dir"
                                                                        << QFileInfo(QString::fromStdString(path)).absolutePath());
        p.waitForFinished(300'000);
        const double took = msSince(start);
        const auto bytes = p.readAllStandardOutput().size();
        return std::make_pair(took, bytes);
    };
    const QString yearAgo = QString::fromStdString(localDayOf(now - 365 * day));
    const QString monthAgo = QString::fromStdString(localDayOf(now - 30 * day));
    const QString today = QString::fromStdString(localDayOf(now));
    const auto [daysMs, daysBytes] = exportTime({"--what", "days", "--from", yearAgo, "--to", today});
    const auto [minutesMs, minutesBytes] =
        exportTime({"--what", "minutes", "--instruments", "1", "--from", monthAgo, "--to", today});
    std::printf("lumohistory export: a year of daily volumes of 39 instruments %.0f ms (%lld bytes); a month of "
                "minutes of one %.0f ms (%lld bytes)\n",
                daysMs, static_cast<long long>(daysBytes), minutesMs, static_cast<long long>(minutesBytes));
    return 0;
}

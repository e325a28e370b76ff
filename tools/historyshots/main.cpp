// Pictures of the history's windows over a made-up history, as an operator
// sees them: historyshots <output dir>. The trend of one instrument over a
// day with a silence and an alarm, four instruments overlaid, the daily
// volumes with a total that was reset.

#include "dailywindow.h"
#include "historyfile.h"
#include "localclock.h"
#include "plotwidget.h"
#include "stationfont.h"
#include "synthetic.h"
#include "trendwindow.h"

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QEventLoop>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

using namespace lumo;

// Runs the event loop until `done` was called or 10 s went by.
void waitFor(const std::function<void(std::function<void()>)>& start)
{
    QEventLoop loop;
    QTimer::singleShot(10'000, &loop, &QEventLoop::quit);
    start([&loop] { QTimer::singleShot(50, &loop, &QEventLoop::quit); });
    loop.exec();
}

bool save(QWidget& window, const QDir& out, const char* name)
{
    const QString path = out.filePath(QString::fromUtf8(name));
    const bool saved = window.grab().save(path);
    std::fprintf(saved ? stdout : stderr, "%s %s\n", saved ? "wrote" : "could not write", path.toLocal8Bit().constData());
    return saved;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: historyshots <output dir>\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!applyStationFont())
        std::fprintf(stderr, "historyshots: no Simplified Chinese font installed\n");
    QTemporaryDir dir;
    const std::string path = QDir(dir.path()).filePath("history.db").toStdString();

    const std::int64_t now = utcNowMs() / history::kMinuteMs * history::kMinuteMs;
    const std::int64_t hour = history::kHourMs;
    history::SyntheticPlan plan;
    plan.instruments = {1, 2, 3, 4};
    plan.fromMs = now - 4 * 24 * hour;
    plan.toMs = now;
    plan.minutesFromMs = plan.fromMs;
    plan.silences = {{1, now - 9 * hour, now - 8 * hour + 20 * history::kMinuteMs, ""}};
    plan.alarms = {{1, now - 5 * hour, now - 3 * hour - 30 * history::kMinuteMs, "empty_pipe"},
                   {3, now - 30 * hour, now - 29 * hour, "upper_limit"}};
    plan.resets = {{2, now - 36 * hour}};
    {
        history::HistoryFile file;
        if (auto fault = file.openForWriting(path); fault || (fault = history::writeSynthetic(file, plan, localDayOf))) {
            std::fprintf(stderr, "historyshots: %s\n", fault->message.c_str());
            return 1;
        }
    }

    int failed = 0;
    TrendWindow trend(path, 39);
    trend.move(0, 0);
    waitFor([&](std::function<void()> done) {
        trend.setOnDrawn(done);
        trend.showInstruments({1}, 1);
    });
    // The pointer over the alarm: its values and time in the line below.
    PlotWidget* plot = trend.plot();
    const auto point = [plot](double share) {
        const QPointF at(plot->width() * share, plot->height() / 2.0);
        QMouseEvent move(QEvent::MouseMove, at, plot->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(plot, &move);
    };
    point(0.82);
    failed += !save(trend, out, "trend-one.png");

    waitFor([&](std::function<void()> done) {
        trend.setOnDrawn(done);
        trend.showInstruments({1, 2, 3, 4}, 1);
        trend.showRange(now - 3 * 24 * hour, now);
    });
    point(0.6);
    failed += !save(trend, out, "trend-four.png");
    trend.hide();

    DailyWindow daily(path);
    daily.move(0, 0);
    waitFor([&](std::function<void()> done) {
        daily.setOnDrawn(done);
        daily.showDays(QDate::currentDate().addDays(-4), QDate::currentDate());
    });
    failed += !save(daily, out, "daily.png");
    return failed ? 1 : 0;
}

// The history's windows over a made-up history, offscreen: what the trend
// shows under the pointer (values, a silence, an alarm), zoom and drag ask
// for a new range, the picture is saved, the export writes a whole CSV,
// the daily volumes say a reset instead of a volume.

#include "csv.h"
#include "dailywindow.h"
#include "exportdialog.h"
#include "localclock.h"
#include "synthetic.h"
#include "trendwindow.h"

#include <QCoreApplication>
#include <QDate>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QWheelEvent>

#include <gtest/gtest.h>

namespace lumo {
namespace {

using namespace lumo::history;

// Runs the event loop until `started` hands over a call that ends the wait.
bool waitFor(const std::function<void(std::function<void()>)>& started)
{
    QEventLoop loop;
    bool done = false;
    QTimer::singleShot(10'000, &loop, &QEventLoop::quit);
    started([&] {
        done = true;
        loop.quit();
    });
    if (!done)
        loop.exec();
    return done;
}

struct History {
    History()
    {
        plan.instruments = {1, 2};
        plan.fromMs = now - 2 * 24 * kHourMs;
        plan.toMs = now;
        plan.minutesFromMs = plan.fromMs;
        plan.silences = {{1, now - 6 * kHourMs, now - 5 * kHourMs, ""}};
        plan.alarms = {{1, now - 3 * kHourMs, now - 2 * kHourMs, "empty_pipe"}};
        // A reset within a day (at its first minute it would be no drop).
        std::int64_t reset = now - 30 * kHourMs;
        if (localTimeOf(reset).hour == 0 && localTimeOf(reset).minute == 0)
            reset += kMinuteMs;
        plan.resets = {{2, reset}};
        HistoryFile file;
        EXPECT_FALSE(file.openForWriting(path()));
        EXPECT_FALSE(writeSynthetic(file, plan, localDayOf));
    }
    std::string path() const { return QDir(dir.path()).filePath("history.db").toStdString(); }

    QTemporaryDir dir;
    const std::int64_t now = utcNowMs() / kMinuteMs * kMinuteMs;
    SyntheticPlan plan;
};

TEST(TrendWindow, ThePointerTellsValuesSilencesAndAlarms)
{
    History h;
    TrendWindow trend(h.path(), 39);
    ASSERT_TRUE(waitFor([&](std::function<void()> done) {
        trend.setOnDrawn(done);
        trend.showInstruments({1}, 1);  // the last day
    }));
    ASSERT_EQ(trend.plot()->series().size(), 1u);
    EXPECT_FALSE(trend.plot()->series()[0].data.points.empty());
    const struct {
        std::int64_t at;
        const char* part;
    } rows[] = {
        {h.now - 10 * kHourMs, "1号 平均 "},
        {h.now - 5 * kHourMs - 30 * kMinuteMs, "1号 无记录"},
        {h.now - 2 * kHourMs - 30 * kMinuteMs, "，报警中"},
    };
    for (const auto& row : rows) {
        const std::string text = trend.plot()->textAt(row.at).toStdString();
        EXPECT_NE(text.find(row.part), std::string::npos) << text;
        EXPECT_EQ(text.rfind(dayText(localTimeOf(row.at)), 0), 0u) << text;  // its local date first
    }
    EXPECT_EQ(trend.plot()->series()[0].data.alarms.size(), 1u);

    // The wheel zooms in around the pointer: a shorter range is asked for and read.
    const std::int64_t span = trend.plot()->toMs() - trend.plot()->fromMs();
    ASSERT_TRUE(waitFor([&](std::function<void()> done) {
        trend.setOnDrawn(done);
        const QPointF at(trend.plot()->width() / 2.0, trend.plot()->height() / 2.0);
        QWheelEvent wheel(at, trend.plot()->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(trend.plot(), &wheel);
    }));
    EXPECT_LT(trend.plot()->toMs() - trend.plot()->fromMs(), span);
    EXPECT_GT(trend.plot()->toMs() - trend.plot()->fromMs(), span / 2);

    // The pointer's line tells the moment under it; once another range is
    // drawn, that text no longer describes anything there and is not left.
    const QPointF at(trend.plot()->width() * 0.8, trend.plot()->height() / 2.0);
    QMouseEvent move(QEvent::MouseMove, at, trend.plot()->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(trend.plot(), &move);
    const QString told = trend.pointerLine()->text();
    EXPECT_TRUE(told.contains(QStringLiteral("1号"))) << told.toStdString();
    ASSERT_TRUE(waitFor([&](std::function<void()> done) {
        trend.setOnDrawn(done);
        trend.showRange(h.now - 2 * 24 * kHourMs, h.now - 24 * kHourMs);
    }));
    EXPECT_NE(trend.pointerLine()->text().toStdString(), told.toStdString());

    const QString picture = QDir(h.dir.path()).filePath("trend.png");
    ASSERT_TRUE(trend.savePicture(picture));
    EXPECT_FALSE(QImage(picture).isNull());
    EXPECT_FALSE(trend.savePicture(QDir(h.dir.path()).filePath("no/such/directory/trend.png")));
    EXPECT_TRUE(trend.state().startsWith(QStringLiteral("图片没有保存：")));
}

TEST(ExportDialog, WritesTheWholeFileOrSaysWhy)
{
    History h;
    ExportDialog dialog(h.path());
    const struct {
        ExportWhat what;
        const char* instruments;
        bool ok;
        const char* heading;  // the CSV's first heading
    } rows[] = {
        {ExportWhat::Minutes, "1", true, "仪表,开始时间,时长(s)"},
        {ExportWhat::Events, "", true, "仪表,事件,内容"},
        {ExportWhat::Days, "1-2", true, "仪表,日期,正向流量(m³)"},
        {ExportWhat::Minutes, "1,40", false, nullptr},
    };
    for (const auto& row : rows) {
        const QString path = QDir(h.dir.path()).filePath("export.csv");
        QFile::remove(path);
        dialog.prefill(row.what, h.now - 24 * kHourMs, h.now, {});
        dialog.instrumentsField()->setText(QString::fromUtf8(row.instruments));
        bool written = false;
        ASSERT_TRUE(waitFor([&](std::function<void()> done) {
            dialog.exportTo(path, [&written, done](bool ok) {
                written = ok;
                done();
            });
        }));
        EXPECT_EQ(written, row.ok) << dialog.state().toStdString();
        if (!row.ok) {
            EXPECT_FALSE(QFile::exists(path));
            EXPECT_TRUE(dialog.state().startsWith(QStringLiteral("仪表号"))) << dialog.state().toStdString();
            continue;
        }
        QFile csv(path);
        ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
        const QByteArray bytes = csv.readAll();
        EXPECT_TRUE(bytes.startsWith(QByteArray(kByteOrderMark) + row.heading)) << bytes.left(80).toStdString();
        EXPECT_GT(bytes.count('\n'), 1);
        EXPECT_TRUE(dialog.state().startsWith(QStringLiteral("已导出 ")));
    }
    // A file that cannot be written: said, and nothing half written.
    dialog.instrumentsField()->clear();
    bool written = true;
    ASSERT_TRUE(waitFor([&](std::function<void()> done) {
        dialog.exportTo(QDir(h.dir.path()).filePath("no/such/directory/export.csv"), [&written, done](bool ok) {
            written = ok;
            done();
        });
    }));
    EXPECT_FALSE(written);
    EXPECT_TRUE(dialog.state().startsWith(QStringLiteral("导出失败："))) << dialog.state().toStdString();
}

TEST(DailyWindow, AResetIsSaidInsteadOfAVolume)
{
    History h;
    DailyWindow daily(h.path());
    ASSERT_TRUE(waitFor([&](std::function<void()> done) {
        daily.setOnDrawn(done);
        daily.showDays(QDate::currentDate().addDays(-3), QDate::currentDate());
    }));
    QTableWidget* table = daily.table();
    ASSERT_GT(table->rowCount(), 0);
    int resets = 0, volumes = 0;
    for (int row = 0; row < table->rowCount(); ++row) {
        const QString forward = table->item(row, 2)->text(), note = table->item(row, 6)->text();
        EXPECT_FALSE(forward.startsWith('-')) << "a negative volume";
        if (note.startsWith(QStringLiteral("正向累积量减小："))) {
            ++resets;
            EXPECT_TRUE(forward.isEmpty());
            EXPECT_EQ(table->item(row, 0)->text(), QStringLiteral("2号"));
        } else if (!forward.isEmpty()) {
            ++volumes;
        }
    }
    EXPECT_EQ(resets, 1);
    EXPECT_GT(volumes, 0);
}

}  // namespace
}  // namespace lumo

// history.db: one batch one transaction, rows merged as the minutes come,
// old rows dropped, and the writer through a read-only, a full and a
// damaged file: told, retried, nothing lost that the queue holds.

#include "heldfile.h"
#include "historyexport.h"
#include "historywriter.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>

#ifndef _WIN32
#include "smalldisk.h"
#endif

namespace lumo::history {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kMidnight = 1796860800000;  // 2026-12-10T00:00:00Z

LocalTime utc(std::int64_t ms)
{
    LocalTime t;
    t.day = static_cast<int>(ms / 86'400'000) + 1;
    t = normalised(t);
    t.hour = static_cast<int>(ms / 3'600'000 % 24);
    t.minute = static_cast<int>(ms / 60'000 % 60);
    t.second = static_cast<int>(ms / 1000 % 60);
    return t;
}

std::string utcDay(std::int64_t ms) { return dayText(utc(ms)); }

struct Folder {
    Folder() : path(fs::temp_directory_path() / ("lumo-history-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                                                 ::testing::UnitTest::GetInstance()->current_test_info()->name()))
    {
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~Folder()
    {
        lumo::testing::setImmutable((path / "history.db").string(), false);
        fs::remove_all(path);
    }
    std::string file(const char* name) const { return (path / name).string(); }
    fs::path path;
};

PeriodRow minute(int instrument, int m, float flow, const char* forward, int answers = 1)
{
    PeriodRow row;
    row.instrument = instrument;
    row.startMs = kMidnight + m * kMinuteMs;
    row.measured[0] = Spread{flow, flow, flow, static_cast<std::uint32_t>(answers)};
    row.forwardTotal = forward;
    row.answers = answers;
    return row;
}

DayRow dayPart(int instrument, const char* first, const char* last, std::int64_t atMs, double seconds)
{
    DayRow day;
    day.instrument = instrument;
    day.day = "2026-12-10";
    day.firstForward = first;
    day.lastForward = last;
    day.firstAnswerMs = day.lastAnswerMs = atMs;
    day.answeredSeconds = seconds;
    return day;
}

TEST(HistoryFile, BatchesMergeIntoMinutesDaysAndEvents)
{
    Folder folder;
    HistoryFile file;
    ASSERT_FALSE(file.openForWriting(folder.file("history.db")));
    Batch first;
    first.minutes = {minute(1, 0, 2, "10"), minute(2, 0, 5, "1")};
    first.days = {dayPart(1, "10", "10", kMidnight + 1000, 60)};
    first.opened = {{EventKind::StationRun, 0, "lumoscan13", kMidnight, std::nullopt},
                    {EventKind::Alarm, 1, "empty_pipe", kMidnight + 5000, std::nullopt}};
    ASSERT_FALSE(file.write(first));
    // The station stopped and started again within the same minute: the
    // minute's parts join; the day goes on, with a reset of the total.
    Batch second;
    second.minutes = {minute(1, 0, 4, "12", 3), minute(1, 1, 6, "2")};
    second.days = {dayPart(1, "12", "12", kMidnight + 30'000, 60), dayPart(1, "1", "2", kMidnight + 70'000, 60)};
    second.closed = {{EventKind::Alarm, 1, "empty_pipe", kMidnight + 5000, kMidnight + 65'000},
                     // An end whose start never reached the file goes in whole.
                     {EventKind::Silence, 2, "", kMidnight + 10'000, kMidnight + 20'000}};
    ASSERT_FALSE(file.write(second));
    // What was written ahead goes into the file: nothing the writes left
    // open holds it back.
    ASSERT_FALSE(file.checkpoint());

    const auto minutes = file.periods(Period::Minutes, {1}, kMidnight, kMidnight + kHourMs);
    ASSERT_TRUE(minutes.ok());
    ASSERT_EQ(minutes.value().size(), 2u);
    EXPECT_EQ(minutes.value()[0].measured[0], (Spread{2, 3.5f, 4, 4}));
    EXPECT_EQ(minutes.value()[0].answers, 4);
    EXPECT_EQ(minutes.value()[0].forwardTotal, "12");

    const auto days = file.days({}, "2026-12-10", "2026-12-10");
    ASSERT_TRUE(days.ok());
    ASSERT_EQ(days.value().size(), 1u);
    const DayRow& day = days.value()[0];
    EXPECT_EQ(day.firstForward, "10");
    EXPECT_EQ(day.lastForward, "2");
    EXPECT_EQ(day.answeredSeconds, 180);
    ASSERT_TRUE(day.forwardDrop);
    EXPECT_EQ(day.forwardDrop->from, "12");
    EXPECT_EQ(day.forwardDrop->to, "1");

    const auto events = file.events({1, 2}, kMidnight, kMidnight + kHourMs);
    ASSERT_TRUE(events.ok());
    ASSERT_EQ(events.value().size(), 3u);
    EXPECT_EQ(events.value()[1], (Event{EventKind::Alarm, 1, "empty_pipe", kMidnight + 5000, kMidnight + 65'000}));
    EXPECT_EQ(events.value()[2], (Event{EventKind::Silence, 2, "", kMidnight + 10'000, kMidnight + 20'000}));
    // The run never ended in the file: it ends where the last minute did.
    ASSERT_FALSE(file.closeDanglingEvents());
    EXPECT_EQ(file.events({}, kMidnight, kMidnight + 1).value()[0].toMs, kMidnight + 2 * kMinuteMs);

    // The export reads the same rows.
    const auto csv = exportCsv(file, {ExportWhat::Days, kMidnight, kMidnight + 86'400'000, {1}}, utc);
    ASSERT_TRUE(csv.ok());
    EXPECT_EQ(csv.value().rows, 1u);
    EXPECT_NE(csv.value().csv.find("1,2026-12-10,,,0.05,,正向累积量减小：12 → 1（00:01，复位或更换）"), std::string::npos)
        << csv.value().csv;
}

TEST(HistoryFile, OldRowsGoAsTheSettingsSay)
{
    Folder folder;
    HistoryFile file;
    ASSERT_FALSE(file.openForWriting(folder.file("history.db")));
    const std::int64_t day = 86'400'000, now = kMidnight;
    Batch batch;
    for (const std::int64_t age : {1 * day, 89 * day, 91 * day, 400 * day, 800 * day}) {
        PeriodRow row = minute(3, 0, 1, "1");
        row.startMs = now - age;
        batch.minutes.push_back(row);
        row.lengthMs = kHourMs;
        batch.hours.push_back(row);
        DayRow d = dayPart(3, "1", "1", now - age, 60);
        d.day = utcDay(now - age);
        batch.days.push_back(d);
        batch.opened.push_back({EventKind::Silence, 3, "", now - age, now - age + 1000});
    }
    ASSERT_FALSE(file.write(batch));
    ASSERT_FALSE(file.dropOld(now, 2, utcDay(now - 2 * 366 * day)));
    EXPECT_EQ(file.periods(Period::Minutes, {}, 0, now).value().size(), 2u);  // 1 and 89 days old
    EXPECT_EQ(file.periods(Period::Hours, {}, 0, now).value().size(), 4u);    // all but 800 days
    EXPECT_EQ(file.days({}, "2000-01-01", "2100-01-01").value().size(), 4u);
    EXPECT_EQ(file.events({}, 0, now).value().size(), 4u);
}

// The writer's state texts, waited for from the test's thread.
struct States {
    std::function<void(const std::string&)> sink()
    {
        return [this](const std::string& s) {
            const std::lock_guard lock(mutex);
            told.push_back(s);
            changed.notify_all();
        };
    }
    // Waits until a text beginning with `start` was told (empty: the all-clear).
    bool waitFor(const std::string& start)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(20), [&] {
            for (const std::string& s : told)
                if (start.empty() ? s.empty() : s.rfind(start, 0) == 0)
                    return true;
            return false;
        });
    }
    std::string all()
    {
        const std::lock_guard lock(mutex);
        std::string text;
        for (const std::string& s : told)
            text += "[" + s + "]";
        return text;
    }
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> told;
};

Batch minuteBatch(int m)
{
    Batch batch;
    batch.minutes = {minute(1, m, static_cast<float>(m), "1")};
    return batch;
}

enum class Fault { ReadOnly, Full, Damaged };

TEST(HistoryWriter, AFileThatCannotBeWrittenIsToldAndWhatWaitsGoesInLater)
{
    const struct {
        Fault fault;
        const char* told;
    } rows[] = {
        {Fault::ReadOnly, "历史记录停止：历史文件不能写（"},
        {Fault::Full, "历史记录停止：磁盘已满或超出限额（"},
        {Fault::Damaged, "历史文件已损坏，另存为 "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.told);
        Folder folder;
        const std::string path = folder.file("history.db");
#ifndef _WIN32
        std::optional<lumo::testing::SmallDisk> disk;
        if (row.fault == Fault::Full) {
            disk.emplace(folder.path.string(), 1024);
            if (!disk->mounted()) {
                std::printf("[ not here ] this process may not mount a small file system to fill\n");
                continue;
            }
        }
#else
        if (row.fault == Fault::Full)
            continue;
#endif
        States states;
        {
            HistoryWriter writer(path, "", 10, utcDay, [] { return kMidnight; }, states.sink());
            writer.write(minuteBatch(0));
        }
        switch (row.fault) {
        case Fault::ReadOnly:
            if (!lumo::testing::setImmutable(path, true)) {
                std::printf("[ not here ] no read-only file this process cannot write through\n");
                continue;
            }
            break;
        case Fault::Full:
#ifndef _WIN32
            ASSERT_TRUE(disk->fill());
#endif
            break;
        case Fault::Damaged: {
            std::fstream bytes(path, std::ios::in | std::ios::out | std::ios::binary);
            bytes.write("this is no database at all, not any more", 40);
            break;
        }
        }
        {
            HistoryWriter writer(path, "", 10, utcDay, [] { return kMidnight; }, states.sink());
            writer.write(minuteBatch(1));
            EXPECT_TRUE(states.waitFor(row.told)) << states.all();
            // The fault mended, the next minute takes the one waiting along.
#ifndef _WIN32
            if (disk)
                disk->makeRoom();
#endif
            lumo::testing::setImmutable(path, false);
            writer.write(minuteBatch(2));
            if (row.fault != Fault::Damaged) {
                EXPECT_TRUE(states.waitFor("")) << states.all();
            }
        }
        HistoryFile file;
        ASSERT_FALSE(file.openForReading(path));
        std::vector<std::int64_t> starts;
        for (const PeriodRow& r : file.periods(Period::Minutes, {}, 0, kMidnight + kHourMs).value())
            starts.push_back((r.startMs - kMidnight) / kMinuteMs);
        // A damaged file starts anew: minute 0 is in the file set aside.
        const std::vector<std::int64_t> expected =
            row.fault == Fault::Damaged ? std::vector<std::int64_t>{1, 2} : std::vector<std::int64_t>{0, 1, 2};
        EXPECT_EQ(starts, expected);
        if (row.fault == Fault::Damaged) {
            int setAside = 0;
            for (const auto& entry : fs::directory_iterator(folder.path)) {
                const std::string name = entry.path().filename().string();
                setAside += name.rfind("history.db.damaged-", 0) == 0 && name.back() == 'Z';
            }
            EXPECT_EQ(setAside, 1);
        }
    }
}

}  // namespace
}  // namespace lumo::history

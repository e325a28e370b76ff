// The history end to end: lumoscan12 against lumosim with moving values,
// an instrument silent for over a minute and one raising and clearing an
// alarm; what lumohistory exports agrees with what the simulator served,
// minute by minute. And a history file that cannot be used stops only the
// history.

#include "csv.h"
#include "decimal.h"
#include "heldfile.h"
#include "smalldisk.h"
#include "jsontext.h"
#include "linerecorder.h"
#include "localclock.h"
#include "mainwindow.h"
#include "selection.h"
#include "stationhistory.h"
#include "stationrun.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <optional>
#include <set>

namespace {

using namespace lumo;
using namespace lumo::testing;
using history::Decimal;

constexpr std::int64_t kTickMs = 200;
// How far from a minute's edge an answer may fall on either side of it: the
// answer's last byte and the station taking it are a tick apart at most.
constexpr std::int64_t kEdgeMs = kTickMs + 100;
// A block answer, ten bytes at 9600 baud.
constexpr std::chrono::microseconds kAnswerOnTheWire(10417);

// What the simulator served: every answer with its time on the station's
// clock, and the requests it left unanswered.
struct Served {
    int to = 0, block = 0;
    std::int64_t us = 0;  // on the simulator's clock (CLOCK_MONOTONIC)
    std::int64_t utcMs = 0;
    // The station may not have taken it: the line held its exchange up, or
    // it came as the station stopped.
    bool maybeMissed = false;
    std::string value;  // exact decimal; empty for alarms and diameters
    int payload0 = 0;   // the first payload byte (the alarm bits of block 6)
};

struct SimLog {
    std::vector<Served> answers, skipped;
};

SimLog readSimLog(const Simulator& sim, std::int64_t monotonicToUtcMs)
{
    SimLog log;
    for (const QString& line : sim.logLines()) {
        const QJsonObject e = QJsonDocument::fromJson(line.toUtf8()).object();
        const std::string ev = e.value("ev").toString().toStdString();
        if (ev != "tx" && ev != "skip")
            continue;
        Served s;
        s.to = e.value("to").toInt();
        s.block = e.value("block").toInt();
        s.us = static_cast<std::int64_t>(e.value("t_us").toDouble());
        s.utcMs = s.us / 1000 + monotonicToUtcMs;
        if (ev == "skip") {
            log.skipped.push_back(s);
            continue;
        }
        // "value" is written as a JSON number with every digit it has.
        const QString raw = line.section("\"value\":", 1).section(',', 0, 0).section('}', 0, 0);
        s.value = raw.toStdString();
        s.payload0 = e.value("hex").toString().mid(4, 2).toInt(nullptr, 16);
        log.answers.push_back(s);
    }
    return log;
}

// CSV as lumohistory writes it: a byte-order mark, a header, no quoted
// fields in these columns.
std::vector<std::vector<std::string>> csvRows(const QByteArray& csv)
{
    std::vector<std::vector<std::string>> rows;
    QString text = QString::fromUtf8(csv);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    const QStringList lines = text.split("\r\n", Qt::SkipEmptyParts);
    for (int i = 1; i < lines.size(); ++i) {
        std::vector<std::string> fields;
        for (const QString& f : lines[i].split(','))
            fields.push_back(f.toStdString());
        rows.push_back(fields);
    }
    return rows;
}

std::int64_t momentOfCsv(const std::string& text)
{
    const auto moment = history::momentOf(text, false, [](const history::LocalTime&) { return std::nullopt; });
    EXPECT_TRUE(moment.ok()) << text;
    return moment.ok() ? moment.value() : 0;
}

QByteArray lumohistory(const ProgramDir& dir, const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral(LUMO_LUMOHISTORY), QStringList{"export"} << args << "--dir" << dir.path());
    EXPECT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    return p.readAllStandardOutput();
}

std::string isoUtc(std::int64_t ms) { return utcText(ms).substr(0, 19) + "Z"; }

// A float as the station decoded it from the exact value the simulator sent.
float served(const Served& s) { return std::stof(s.value); }

// Whether the values the station took in a minute make the stored spread
// (least and greatest exactly, the mean to float precision): all those
// well inside the minute but at most `missed` (answers the station did not
// take, by its own count), and any of those near its edges.
bool spreadMatches(const std::vector<float>& core, const std::vector<float>& edge, int missed, float least, float mean,
                   float greatest)
{
    const auto matches = [&](const std::vector<float>& taken) {
        if (taken.empty())
            return false;
        double sum = 0;
        for (float v : taken)
            sum += v;
        const auto count = static_cast<double>(taken.size());
        return *std::min_element(taken.begin(), taken.end()) == least &&
               *std::max_element(taken.begin(), taken.end()) == greatest &&
               std::fabs(static_cast<float>(sum / count) - mean) <= 1e-5f * std::fabs(mean) + 1e-6f;
    };
    for (unsigned pick = 0; pick < (1u << edge.size()); ++pick) {
        std::vector<float> taken = core;
        for (std::size_t i = 0; i < edge.size(); ++i)
            if (pick & (1u << i))
                taken.push_back(edge[i]);
        if (matches(taken))
            return true;
        // Leave out one or two of those inside, as many as were missed.
        for (std::size_t i = 0; missed >= 1 && i < core.size(); ++i) {
            std::vector<float> less = taken;
            less.erase(less.begin() + static_cast<std::ptrdiff_t>(i));
            if (matches(less))
                return true;
            for (std::size_t j = i; missed >= 2 && j < core.size() - 1; ++j) {
                std::vector<float> fewer = less;
                fewer.erase(fewer.begin() + static_cast<std::ptrdiff_t>(j));
                if (matches(fewer))
                    return true;
            }
        }
    }
    return false;
}

TEST(HistoryEndToEnd, ExportsAgreeWithWhatTheSimulatorServedMinuteByMinute)
{
    ProgramDir dir;
    ASSERT_TRUE(dir.writeSettings({"1", "200", "3", "9600"}));
    const std::string scenario =
        "protocol block\n"
        "instrument 1 flow=10~3/40 velocity=1.5 percent=50 resistance=3.3 forward=1000+0.5/s diameter=100\n"
        "instrument 2 flow=5~1/30 forward=200+0.25/s diameter=50 silent_s=60-150\n"
        "instrument 3 flow=7~0.5/20 forward=50 diameter=80 alarms=empty alarms_s=40-110\n";
    Simulator sim(dir, scenario);
    ASSERT_TRUE(sim.started());
    const std::int64_t monotonicToUtc =
        utcNowMs() - std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now().time_since_epoch())
                         .count();
    std::int64_t startedMs = 0, endedMs = 0;
    std::array<std::uint64_t, 4> taken{};
    LineRecorder recorder;
    {
        StationRun run(dir, Protocol::Block, [&](StationConfig& config) { recorder.installIn(config); });
        startedMs = utcNowMs();
        ASSERT_EQ(run.station->start(), StartupResult::Polling);
        ASSERT_TRUE(run.station->history().recording());
        waitFor([] { return false; }, 200'000);
        for (int n = 1; n <= 3; ++n)
            taken[static_cast<std::size_t>(n)] = run.station->pollCycle().lineStats().instrument(n).answers;
        EXPECT_EQ(run.station->mainWindow().historyField()->text().toStdString(), "");
        endedMs = utcNowMs();
    }  // the run ends: the minute under way and the open events are written
    SimLog log = readSimLog(sim, monotonicToUtc);
    // The exchanges the line held up (measured from the simulator's times)
    // or the machine did (the kernel kept the station's thread from a CPU
    // from the answer to the tick): their answers may not have been taken,
    // and the station blanked the instrument at the tick that judged them.
    // On a loaded machine even a simulator at a raised priority is
    // sometimes late.
    std::vector<Exchange> heldUp;
    std::set<std::int64_t> lateAnswers;
    for (const Exchange& exchange : exchangesOf(recorder, sim))
        if (heldUpOutsideTheStation(exchange, kAnswerOnTheWire)) {
            heldUp.push_back(exchange);
            if (exchange.answer)
                lateAnswers.insert(exchange.answer->sentUs);
        }
    for (Served& s : log.answers)
        s.maybeMissed = lateAnswers.count(s.us) > 0 || s.utcMs >= endedMs - kEdgeMs;
    // Answers served that the station did not take and nothing explains,
    // by instrument.
    std::array<int, 4> missed{};
    for (int n = 1; n <= 3; ++n) {
        const auto answered = std::count_if(log.answers.begin(), log.answers.end(), [n](const Served& s) { return s.to == n; });
        const auto explained = std::count_if(log.answers.begin(), log.answers.end(),
                                             [n](const Served& s) { return s.to == n && s.maybeMissed; });
        const int unexplained = static_cast<int>(answered - explained) - static_cast<int>(taken[static_cast<std::size_t>(n)]);
        missed[static_cast<std::size_t>(n)] = std::max(0, unexplained);
        EXPECT_LE(unexplained, 2) << "instrument " << n;
    }
    if (!heldUp.empty())
        std::printf("[ held up  ] %zu exchanges held up by the line or the machine\n", heldUp.size());

    const QStringList range = {"--from", QString::fromStdString(isoUtc(startedMs - 60'000)), "--to",
                               QString::fromStdString(isoUtc(endedMs + 60'000))};
    const auto minutes = csvRows(lumohistory(dir, QStringList{"--what", "minutes"} << range));
    const auto events = csvRows(lumohistory(dir, QStringList{"--what", "events"} << range));
    ASSERT_GE(minutes.size(), 9u);

    // Minute by minute and instrument by instrument: the flow's spread made
    // of exactly the values served in it, the last forward total as served.
    std::array<double, 4> blank{};
    for (const auto& row : minutes) {
        ASSERT_EQ(row.size(), 21u);
        const int n = std::stoi(row[0]);
        const std::int64_t start = momentOfCsv(row[1]), end = start + 60'000;
        SCOPED_TRACE("instrument " + row[0] + ", minute " + row[1]);
        std::vector<float> core, edge;  // edge: those that may or may not count
        std::vector<const Served*> totals;
        for (const Served& s : log.answers) {
            if (s.to != n || s.utcMs < start - kEdgeMs || s.utcMs >= end + kEdgeMs)
                continue;
            const bool inside = s.utcMs >= start + kEdgeMs && s.utcMs < end - kEdgeMs && !s.maybeMissed;
            if (s.block == 0)
                (inside ? core : edge).push_back(served(s));
            if (s.block == 4)
                totals.push_back(&s);
        }
        // The totals the minute may have kept last: from the last one near
        // it back to the last one surely taken well inside it.
        std::vector<std::string> lastTotals;
        bool totalSurelyTaken = false;
        for (auto t = totals.rbegin(); t != totals.rend() && !totalSurelyTaken; ++t) {
            lastTotals.push_back((*t)->value);
            totalSurelyTaken = !(*t)->maybeMissed && (*t)->utcMs >= start + kEdgeMs && (*t)->utcMs < end - kEdgeMs;
        }
        const int answers = std::stoi(row[19]);
        blank[static_cast<std::size_t>(n)] += std::stod(row[20]);
        if (row[3].empty()) {
            EXPECT_TRUE(core.empty());
            continue;
        }
        EXPECT_TRUE(spreadMatches(core, edge, missed[static_cast<std::size_t>(n)], std::stof(row[3]), std::stof(row[4]),
                                  std::stof(row[5])))
            << "stored " << row[3] << " " << row[4] << " " << row[5] << " from " << core.size() << " values inside and "
            << edge.size() << " at the edges";
        EXPECT_GT(answers, 0);
        // The total exactly as served, never through a float; none when
        // none came in the minute (an instrument back from a silence just
        // before the minute's end answers its flow before its totals).
        if (row[15].empty()) {
            EXPECT_FALSE(totalSurelyTaken) << "a total served in the minute was not kept";
            continue;
        }
        const auto stored = Decimal::of(row[15]);
        ASSERT_TRUE(stored) << row[15];
        EXPECT_TRUE(std::any_of(lastTotals.begin(), lastTotals.end(),
                                [&](const std::string& t) { return *stored == *Decimal::of(t); }))
            << "stored " << row[15] << ", served last " << ::testing::PrintToString(lastTotals);
    }

    // The silence of instrument 2: from its first unanswered request (the
    // station blanks it at the next tick) to its first answer after that it
    // took.
    const auto firstSkip = std::find_if(log.skipped.begin(), log.skipped.end(), [](const Served& s) { return s.to == 2; });
    ASSERT_NE(firstSkip, log.skipped.end());
    const auto backAgain = std::find_if(log.answers.begin(), log.answers.end(),
                                        [&](const Served& s) { return s.to == 2 && s.utcMs > firstSkip->utcMs; });
    const auto takenAgain = std::find_if(backAgain, log.answers.end(),
                                         [&](const Served& s) { return s.to == 2 && !s.maybeMissed; });
    ASSERT_NE(takenAgain, log.answers.end());
    const auto utcOf = [&](std::int64_t us) { return us / 1000 + monotonicToUtc; };
    std::vector<std::vector<std::string>> planned, alarms;
    std::array<double, 4> silent{};
    std::array<int, 4> silences{};
    int excused = 0;
    for (const auto& e : events) {
        if (e[1] == "报警")
            alarms.push_back(e);
        if (e[1] != "无应答")
            continue;
        const int n = std::stoi(e[0]);
        ASSERT_TRUE(n >= 1 && n <= 3) << e[0];
        const std::int64_t from = momentOfCsv(e[3]), to = momentOfCsv(e[4]);
        silent[static_cast<std::size_t>(n)] += std::stod(e[5]);
        ++silences[static_cast<std::size_t>(n)];
        // Besides that one, a silence only where the line or the machine held an exchange
        // with that instrument up, beginning at the tick that judged it.
        const bool heldThen = std::any_of(heldUp.begin(), heldUp.end(), [&](const Exchange& x) {
            return x.address == n && x.judgedUs && std::abs(utcOf(*x.judgedUs) - from) <= 1000 + kEdgeMs;
        });
        if (n == 2 && from <= firstSkip->utcMs + kEdgeMs + kTickMs && to >= firstSkip->utcMs) {
            planned.push_back(e);
            EXPECT_TRUE(from >= firstSkip->utcMs - 1000 || heldThen)  // CSV times are whole seconds
                << "silent from " << e[3] << ", its first request unanswered at " << isoUtc(firstSkip->utcMs);
            EXPECT_GE(static_cast<double>(to), static_cast<double>(backAgain->utcMs) - 1000.0 - kEdgeMs);
            EXPECT_LE(static_cast<double>(to), static_cast<double>(takenAgain->utcMs) + 1000.0 + kEdgeMs);
            continue;
        }
        EXPECT_TRUE(heldThen) << "instrument " << n << " silent from " << e[3] << " to " << e[4]
                              << ", though neither the line nor the machine held its exchanges up then";
        ++excused;
    }
    ASSERT_EQ(planned.size(), 1u);
    if (excused > 0)
        std::printf("[ held up  ] %d silences where the line or the machine held the exchange up\n", excused);
    // The blank seconds, minute by minute, add up to the silences.
    for (int n = 1; n <= 3; ++n)
        EXPECT_NEAR(blank[static_cast<std::size_t>(n)], silent[static_cast<std::size_t>(n)],
                    silences[static_cast<std::size_t>(n)] == 0 ? 0.01 : 0.5 + 0.1 * silences[static_cast<std::size_t>(n)])
            << "instrument " << n;

    // The alarm of instrument 3: from the first answer with the empty-pipe
    // bit to the first without it.
    const auto raised = std::find_if(log.answers.begin(), log.answers.end(), [](const Served& s) {
        return s.to == 3 && s.block == 6 && (s.payload0 & 0x08);
    });
    ASSERT_NE(raised, log.answers.end());
    const auto cleared = std::find_if(raised, log.answers.end(), [](const Served& s) {
        return s.to == 3 && s.block == 6 && !(s.payload0 & 0x08);
    });
    ASSERT_NE(cleared, log.answers.end());
    ASSERT_EQ(alarms.size(), 1u);
    EXPECT_EQ(alarms[0][0], "3");
    EXPECT_EQ(alarms[0][2], "空管报警");
    EXPECT_NEAR(static_cast<double>(momentOfCsv(alarms[0][3])), static_cast<double>(raised->utcMs), 1000.0 + kEdgeMs);
    EXPECT_NEAR(static_cast<double>(momentOfCsv(alarms[0][4])), static_cast<double>(cleared->utcMs), 1000.0 + kEdgeMs);

    // Daily volumes: the forward totals' difference between the day's first
    // and last answer, exactly.
    const std::string day = localDayOf(startedMs);
    if (day != localDayOf(endedMs)) {
        std::printf("[ note     ] the run crossed midnight: daily volumes not compared\n");
        return;
    }
    const auto days = csvRows(lumohistory(dir, {"--what", "days", "--from", QString::fromStdString(day), "--to",
                                                QString::fromStdString(day)}));
    ASSERT_EQ(days.size(), 3u);
    for (const auto& row : days) {
        const int n = std::stoi(row[0]);
        SCOPED_TRACE("day of instrument " + row[0]);
        std::vector<const Served*> totals;
        for (const Served& s : log.answers)
            if (s.to == n && s.block == 4)
                totals.push_back(&s);
        ASSERT_GE(totals.size(), 2u);
        const auto volume = Decimal::of(row[2]);
        ASSERT_TRUE(volume) << row[2];
        // The first and the last total the station took: at either end, up
        // to the first one it surely took.
        std::vector<Decimal> firsts, lasts;
        for (auto t = totals.begin(); t != totals.end() && (firsts.empty() || (*std::prev(t))->maybeMissed); ++t)
            firsts.push_back(*Decimal::of((*t)->value));
        for (auto t = totals.rbegin(); t != totals.rend() && (lasts.empty() || (*std::prev(t))->maybeMissed); ++t)
            lasts.push_back(*Decimal::of((*t)->value));
        bool found = false;
        for (const Decimal& first : firsts)
            for (const Decimal& last : lasts)
                found = found || *volume == last - first;
        EXPECT_TRUE(found) << "volume " << row[2] << " from " << totals.front()->value << " to " << totals.back()->value;
        EXPECT_EQ(row[5], n == 3 ? "空管报警" : "");
    }
}

// A history.db that cannot be used: polling goes on, the main window says
// why (Chinese first), lumo.mdb does not change.
TEST(HistoryEndToEnd, AHistoryFileThatCannotBeUsedStopsOnlyTheHistory)
{
    enum class Fault { ReadOnly, Full, Damaged };
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
        ProgramDir dir;
        // A full disk: the settings file, and so the history beside it, in
        // the data directory on a small file system of its own.
        std::optional<SmallDisk> disk;
        QString settingsDir = dir.path();
        if (row.fault == Fault::Full) {
            settingsDir = dir.file("data");
            disk.emplace(settingsDir.toStdString(), 1024);
            if (!disk->mounted()) {
                std::printf("[ not here ] this process may not mount a small file system to fill\n");
                continue;
            }
            ASSERT_EQ(QProcess::execute(QStringLiteral(LUMO_MKLUMODB), {settingsDir + "/lumo.mdb", "1", "50", "2", "9600"}), 0);
        } else {
            ASSERT_TRUE(dir.writeSettings({"1", "50", "2", "9600"}));
        }
        Simulator sim(dir, "protocol block\ninstrument 1 flow=1\ninstrument 2 flow=2\n");
        ASSERT_TRUE(sim.started());
        const std::string history = (settingsDir + "/history.db").toStdString();
        if (row.fault == Fault::Damaged) {
            std::ofstream garbage(history, std::ios::binary);
            garbage << "this is no database at all, and it never was one";
        }
        if (row.fault == Fault::ReadOnly) {
            {
                history::HistoryFile made;
                ASSERT_FALSE(made.openForWriting(history));
            }
            ASSERT_TRUE(setImmutable(history, true)) << "no read-only file this process cannot write through";
        }
        const auto settingsHash = [&] {
            QFile f(settingsDir + "/lumo.mdb");
            f.open(QIODevice::ReadOnly);
            return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
        };
        const QByteArray settingsBefore = settingsHash();
        if (disk) {
            ASSERT_TRUE(disk->fill());
        }
        {
            StationRun run(dir, Protocol::Block);
            ASSERT_EQ(run.station->start(), StartupResult::Polling);
            QLineEdit* told = run.station->mainWindow().historyField();
            EXPECT_TRUE(waitFor([&] { return told->text().startsWith(QString::fromUtf8(row.told)); }, 10000))
                << told->text().toStdString();
            EXPECT_TRUE(told->isVisibleTo(&run.station->mainWindow()));
            // Polling goes on: both instruments show.
            EXPECT_TRUE(waitFor([&] { return run.cell(1, 0) == "1" && run.cell(2, 0) == "2"; }, 10000));
        }
        setImmutable(history, false);
        EXPECT_EQ(settingsHash(), settingsBefore);
        if (row.fault == Fault::Damaged) {
            // Set aside under a dated name; a new file took the run.
            const QStringList aside = QDir(dir.path()).entryList({"history.db.damaged-*Z"});
            EXPECT_EQ(aside.size(), 1) << aside.join(' ').toStdString();
            history::HistoryFile file;
            ASSERT_FALSE(file.openForReading(history));
            EXPECT_FALSE(file.events({}, 0, utcNowMs() + 1).value().empty());
        }
    }
}

}  // namespace

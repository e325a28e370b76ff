// lumoscan12 end to end: the real start-up, settings file, Qt serial layer,
// poll timer and windows (offscreen) against lumosim on a pseudo-terminal.

#include "stationrun.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>

namespace {

using namespace lumo::testing;

// The requests lumosim received, as "address,block".
std::vector<std::string> requestsSeen(const Simulator& sim)
{
    std::vector<std::string> requests;
    for (const QString& line : sim.logLines()) {
        const QJsonObject event = QJsonDocument::fromJson(line.toUtf8()).object();
        if (event.value("ev").toString() != "rx")
            continue;
        const QByteArray frame = QByteArray::fromHex(event.value("hex").toString().toLatin1());
        if (frame.size() == 4)
            requests.push_back(std::to_string(uint8_t(frame[1])) + "," + std::to_string(uint8_t(frame[2])));
    }
    return requests;
}

// Blocks 1..7 of every instrument: 1.25, 50, 3.3, 12345.68, 0, empty-pipe
// alarm, diameter code 12 (100 mm).
const char* const kCommonBlocks =
    " block1=250100000200 block2=000500000000 block3=330000000000 block4=785634120000"
    " block5=000000000003 block6=080000000000 block7=0C0000000000";

std::string scenario(bool secondSilent)
{
    std::string s = "protocol block\n";
    s += std::string("instrument 1 block0=123456020000") + kCommonBlocks + "\n";
    if (secondSilent)
        s += "instrument 2 silent\n";
    else
        s += std::string("instrument 2 block0=001000050001") + kCommonBlocks + "\n";
    s += std::string("instrument 3 block0=000001000000") + kCommonBlocks + "\n";
    return s;
}

void expectCommonCells(StationRun& run, int n)
{
    EXPECT_EQ(run.cell(n, 1), "1.25") << n;
    EXPECT_EQ(run.cell(n, 2), "50") << n;
    EXPECT_EQ(run.cell(n, 3), "3.3") << n;
    EXPECT_EQ(run.cell(n, 4), "12345.68") << n;
    EXPECT_EQ(run.cell(n, 5), "0") << n;
    EXPECT_EQ(run.cell(n, 6), "100") << n;
    EXPECT_EQ(run.cell(n, 7), "通讯正常,空管报警") << n;
}

// A machine busy enough to hold the line up past a tick (a pseudo-terminal
// stalled for 0.65 s here beside a build) leaves a request unanswered: the
// station rightly skips that instrument's remaining blocks and blanks it, and
// that sweep says nothing about the order. Order and values are therefore
// judged on the first sweep, from 1,0 to the next 1,0 (`length` requests),
// in which the station found every request to the answering instruments
// answered; when the machine is quiet that is the first sweep.
struct Sweep {
    std::vector<std::string> requests;  // as the simulator read them
    std::size_t from = 0;
};

std::optional<Sweep> firstUndisturbedSweep(StationRun& run, const Simulator& sim, std::size_t length,
                                           const std::vector<int>& answering)
{
    const auto unanswered = [&] {
        std::uint64_t count = 0;
        for (const int n : answering)
            count += run.station->pollCycle().lineStats().instrument(n).unanswered;
        return count;
    };
    // Per request read: the count when the test first saw it as the newest
    // (by then the station had judged the request before it), or nothing
    // when it was seen late.
    std::vector<std::optional<std::uint64_t>> unansweredAt;
    Sweep sweep;
    const bool found = waitFor(
        [&] {
            sweep.requests = requestsSeen(sim);
            const std::uint64_t now = unanswered();
            while (unansweredAt.size() < sweep.requests.size())
                unansweredAt.push_back(unansweredAt.size() + 1 == sweep.requests.size() ? std::optional(now)
                                                                                        : std::nullopt);
            for (sweep.from = 0; sweep.from + length <= sweep.requests.size(); ++sweep.from) {
                const std::optional<std::uint64_t>& first = unansweredAt[sweep.from];
                if (sweep.requests[sweep.from] == "1,0" && first && unansweredAt[sweep.from + length - 1] == first)
                    return true;
            }
            return false;
        },
        30000);
    if (!found) {
        std::string counted;
        for (int n = 1; n <= 3; ++n)
            counted += run.lineReport(n) + "\n";
        ADD_FAILURE() << "no undisturbed sweep within 30 s\n" << counted << sim.logLines().join("\n").toStdString();
        return std::nullopt;
    }
    if (sweep.from > 0)
        std::printf("[ held up  ] a sweep before was not wholly answered; judged: the sweep from request %zu\n",
                    sweep.from);
    sweep.requests.erase(sweep.requests.begin(), sweep.requests.begin() + static_cast<std::ptrdiff_t>(sweep.from));
    sweep.requests.resize(length);
    return sweep;
}

TEST(BlockEndToEnd, FullSweepShowsEveryInstrumentsOwnValues)
{
    ProgramDir dir;
    ASSERT_TRUE(dir.writeSettings({"1", "200", "3", "9600"}));
    Simulator sim(dir, scenario(false));
    ASSERT_TRUE(sim.started()) << sim.errors().toStdString();
    StationRun run(dir, Protocol::Block);
    ASSERT_EQ(run.station->start(), lumo::StartupResult::Polling)
        << (run.dialogs.informed.empty() ? "" : run.dialogs.informed[0]);

    const std::optional<Sweep> sweep = firstUndisturbedSweep(run, sim, 25, {1, 2, 3});
    ASSERT_TRUE(sweep);
    std::vector<std::string> expected;
    for (int n = 1; n <= 3; ++n)
        for (int block = 0; block < 8; ++block)
            expected.push_back(std::to_string(n) + "," + std::to_string(block));
    expected.push_back("1,0");
    EXPECT_EQ(sweep->requests, expected) << "sweep from request " << sweep->from;

    EXPECT_EQ(run.cell(1, 0), "563.412");
    EXPECT_EQ(run.cell(2, 0), "-1000");
    EXPECT_EQ(run.cell(3, 0), "0.1");
    for (int n = 1; n <= 3; ++n)
        expectCommonCells(run, n);
    for (int r = 0; r < 8; ++r)
        EXPECT_EQ(run.cell(4, r), "");
}

TEST(BlockEndToEnd, SilentInstrumentStaysEmptyAndPollingMovesOn)
{
    ProgramDir dir;
    ASSERT_TRUE(dir.writeSettings({"1", "50", "3", "9600"}));
    Simulator sim(dir, scenario(true));
    ASSERT_TRUE(sim.started()) << sim.errors().toStdString();
    StationRun run(dir, Protocol::Block);
    ASSERT_EQ(run.station->start(), lumo::StartupResult::Polling);

    // 1: eight blocks, 2: one unanswered request, 3: eight blocks, then 1 again.
    const std::optional<Sweep> sweep = firstUndisturbedSweep(run, sim, 18, {1, 3});
    ASSERT_TRUE(sweep);
    const std::vector<std::string>& seen = sweep->requests;
    EXPECT_EQ(seen[8], "2,0");
    EXPECT_EQ(seen[9], "3,0");
    EXPECT_EQ(seen[17], "1,0");
    EXPECT_EQ(run.cell(1, 0), "563.412");
    EXPECT_EQ(run.cell(3, 0), "0.1");
    expectCommonCells(run, 3);
    for (int r = 0; r < 8; ++r)
        EXPECT_EQ(run.cell(2, r), "") << r;
}

}  // namespace

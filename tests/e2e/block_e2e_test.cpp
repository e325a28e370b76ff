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
// that sweep says nothing about the order. The order and the values are
// therefore checked on the first sweep, from 1,0 to the next 1,0, in which
// the station found every request answered; when the machine is quiet that
// is the first.
TEST(BlockEndToEnd, FullSweepShowsEveryInstrumentsOwnValues)
{
    ProgramDir dir;
    ASSERT_TRUE(dir.writeSettings({"1", "200", "3", "9600"}));
    Simulator sim(dir, scenario(false));
    ASSERT_TRUE(sim.started()) << sim.errors().toStdString();
    StationRun run(dir, Protocol::Block);
    ASSERT_EQ(run.station->start(), lumo::StartupResult::Polling)
        << (run.dialogs.informed.empty() ? "" : run.dialogs.informed[0]);

    std::vector<std::string> expected;
    for (int n = 1; n <= 3; ++n)
        for (int block = 0; block < 8; ++block)
            expected.push_back(std::to_string(n) + "," + std::to_string(block));
    expected.push_back("1,0");
    const auto unanswered = [&] {
        std::uint64_t count = 0;
        for (int n = 1; n <= 3; ++n)
            count += run.station->pollCycle().lineStats().instrument(n).unanswered;
        return count;
    };
    // Per request the simulator read: the station's unanswered count when
    // the test first saw it as the newest request (by then the station had
    // judged the request before it), or nothing when seen late.
    std::vector<std::optional<std::uint64_t>> unansweredAt;
    std::vector<std::string> seen;
    std::optional<std::size_t> sweep;
    const bool found = waitFor(
        [&] {
            seen = requestsSeen(sim);
            const std::uint64_t now = unanswered();
            while (unansweredAt.size() < seen.size())
                unansweredAt.push_back(unansweredAt.size() + 1 == seen.size() ? std::optional(now) : std::nullopt);
            for (std::size_t i = 0; i + 24 < seen.size(); ++i) {
                if (seen[i] == "1,0" && unansweredAt[i] && unansweredAt[i + 24] == unansweredAt[i]) {
                    sweep = i;
                    return true;
                }
            }
            return false;
        },
        30000);
    ASSERT_TRUE(found) << [&] {
        std::string counted;
        for (int n = 1; n <= 3; ++n)
            counted += run.lineReport(n) + "\n";
        return counted + sim.logLines().join("\n").toStdString();
    }();
    if (*sweep > 0)
        std::printf("[ held up  ] a request before request %zu went unanswered; the sweep from there is judged\n", *sweep);
    EXPECT_EQ(std::vector<std::string>(seen.begin() + *sweep, seen.begin() + *sweep + 25), expected)
        << "sweep from request " << *sweep;

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
    ASSERT_TRUE(waitFor([&] { return requestsSeen(sim).size() >= 18; }, 15000));
    const std::vector<std::string> seen = requestsSeen(sim);
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

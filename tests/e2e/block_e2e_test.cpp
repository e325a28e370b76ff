// lumoscan12 end to end: the real start-up, settings file, Qt serial layer,
// poll timer and windows (offscreen) against lumosim on a pseudo-terminal.

#include "stationrun.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

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

TEST(BlockEndToEnd, FullSweepShowsEveryInstrumentsOwnValues)
{
    ProgramDir dir;
    // Every answer must be taken before the next tick: at 50 ms a busy
    // machine sometimes takes it later, at 200 ms (the default) it does not.
    ASSERT_TRUE(dir.writeSettings({"1", "200", "3", "9600"}));
    Simulator sim(dir, scenario(false));
    ASSERT_TRUE(sim.started()) << sim.errors().toStdString();
    StationRun run(dir, Protocol::Block);
    ASSERT_EQ(run.station->start(), lumo::StartupResult::Polling)
        << (run.dialogs.informed.empty() ? "" : run.dialogs.informed[0]);

    ASSERT_TRUE(waitFor([&] { return requestsSeen(sim).size() >= 25; }, 15000)) << requestsSeen(sim).size();
    const std::vector<std::string> seen = requestsSeen(sim);
    std::vector<std::string> expected;
    for (int n = 1; n <= 3; ++n)
        for (int block = 0; block < 8; ++block)
            expected.push_back(std::to_string(n) + "," + std::to_string(block));
    expected.push_back("1,0");
    EXPECT_EQ(std::vector<std::string>(seen.begin(), seen.begin() + 25), expected);

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

// The line statistics end to end: lumoscan13 polls instruments at mixed
// addresses (one silent, one sending bad CRCs, one answering late, one that
// now and then answers under another address) and publishes its statistics;
// they must say, instrument by instrument, what the simulator's log says it
// did.

#include "broker.h"
#include "linelog.h"
#include "modbuspoller.h"
#include "stationrun.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QSerialPort>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace {

using namespace lumo::testing;

// Addresses 1, 3, 6 and 8 have no instrument.
constexpr int kCount = 9;
constexpr int kHealthy = 2, kSilent = 4, kBadCrc = 5, kLate = 7, kForeign = 9;

std::string instrument(int n, const std::string& more = {})
{
    return "instrument " + std::to_string(n) + " flow=" + std::to_string(n) + ".5 diameter=100 alarms=none" +
           (more.empty() ? "" : " " + more) + "\n";
}

// What the simulator's log says happened to requests for one address.
struct Told {
    long requests = 0, taken = 0, badCrc = 0, foreign = 0;
};

std::map<int, Told> toldBySimulator(const LineLog& log, std::size_t& bytes, std::size_t& badCrcBytes)
{
    std::map<int, Told> told;
    for (int address : log.requested)
        ++told[address].requests;
    bytes = badCrcBytes = 0;
    for (const TxEvent& tx : log.answers) {
        bytes += tx.bytes;
        if (faultNames(tx.fault, {"badcrc"})) {
            ++told[tx.to].badCrc;
            badCrcBytes += tx.bytes;
        } else if (tx.addr != tx.to) {
            ++told[tx.to].foreign;
        } else {
            ++told[tx.to].taken;
        }
    }
    return told;
}

TEST(LineStatistics, SayInstrumentByInstrumentWhatTheSimulatorDid)
{
    Broker broker;
    ASSERT_TRUE(broker.start());
    Subscriber plant(broker.port());
    ProgramDir dir;
    ASSERT_EQ(QProcess::execute(QStringLiteral(LUMO_MKLUMODB),
                                {"--publish", "127.0.0.1:" + QString::number(broker.port()), "line5", dir.file("lumo.mdb"),
                                 "1", "200", QString::number(kCount), "9600"}),
              0);
    const std::string scenario = "protocol modbus\n" + instrument(kHealthy) + instrument(kSilent, "silent") +
                                 instrument(kBadCrc, "fault=badcrc every=2") + instrument(kLate, "delay_ms=40") +
                                 instrument(kForeign, "fault=foreign foreign=2 every=2");
    Simulator sim(dir, scenario, {"--baud", "9600"});
    ASSERT_TRUE(sim.started()) << sim.errors().toStdString();
    StationRun run(dir, Protocol::Modbus,
                   [](lumo::StationConfig& config) { config.statsPeriod = std::chrono::milliseconds(300); });
    ASSERT_EQ(run.station->start(), lumo::StartupResult::Polling);
    // A busy machine may hold the station up longer than an instrument's
    // turnaround allowance: it then times out an answer that is on its way
    // and clears it unread, and its account can no longer equal the
    // simulator's answer for answer.
    QElapsedTimer sinceLastLook;
    sinceLastLook.start();
    qint64 longestHoldUp = 0;
    waitFor([&] {
        longestHoldUp = std::max(longestHoldUp, sinceLastLook.restart());
        return false;
    }, 5000);
    bool heldUp = longestHoldUp > lumo::modbus::kTurnaroundAllowance.count();

    // The poll stops (the chain with the next address that does not
    // answer); then the line is quiet and the two accounts can be compared.
    run.station->pollTimer().setEnabled(false);
    std::size_t requestsSeen = 0;
    waitFor([&] {
        const std::size_t now = readLineLog(sim).requested.size();
        const bool quiet = now == requestsSeen;
        requestsSeen = now;
        return quiet && now > 0;
    }, 600);
    waitFor([] { return false; }, 600);
    const LineLog log = readLineLog(sim);
    std::size_t bytes = 0, badCrcBytes = 0;
    auto told = toldBySimulator(log, bytes, badCrcBytes);
    const lumo::LineStats& stats = run.station->pollCycle().lineStats();
    // A simulator held up as long loses requests on its pseudo-terminal: the
    // tick's clearing of the output takes them back before it read them.
    std::uint64_t written = 0;
    for (int n = 1; n <= kCount; ++n)
        written += stats.instrument(n).requests;
    heldUp = heldUp || written != log.requested.size();
    const int last = log.requested.back();
    for (int n = 1; n <= kCount; ++n) {
        SCOPED_TRACE("instrument " + std::to_string(n));
        const lumo::InstrumentStats& s = stats.instrument(n);
        // Every request was answered or left unanswered, but for the last
        // one, whose tick never came.
        EXPECT_EQ(long(s.answers + s.unanswered) + (n == last ? 1 : 0), long(s.requests));
        if (heldUp) {
            EXPECT_GE(long(s.requests), told[n].requests);
            EXPECT_LE(long(s.answers), told[n].taken);
            continue;
        }
        EXPECT_EQ(long(s.requests), told[n].requests);
        EXPECT_EQ(long(s.answers), told[n].taken);
        EXPECT_EQ(long(s.rejectedFor(lumo::Rejection::Check)), told[n].badCrc);
        EXPECT_EQ(long(s.rejectedFor(lumo::Rejection::Foreign)), told[n].foreign);
    }
    EXPECT_GT(told[kBadCrc].badCrc, 0);
    EXPECT_GT(told[kForeign].foreign, 0);
    EXPECT_EQ(stats.instrument(kSilent).answers, 0u);
    if (!heldUp) {
        EXPECT_EQ(stats.bytesReceived(), bytes);
        EXPECT_EQ(stats.bytesThrownAway(), badCrcBytes);
    } else {
        std::printf("[ stats    ] held up (the station %lld ms; %zu of %llu requests read by the simulator): "
                    "compared as at most what the simulator did\n",
                    static_cast<long long>(longestHoldUp), log.requested.size(), static_cast<unsigned long long>(written));
    }
    const auto healthy = stats.instrument(kHealthy).answerTimes.median();
    const auto late = stats.instrument(kLate).answerTimes.median();
    ASSERT_TRUE(healthy && late);
    EXPECT_GE(*late - *healthy, std::chrono::milliseconds(35)) << "the late instrument's 40 ms";

    // The plant network gets the same, retained.
    const auto published = [&](int n) {
        return QJsonDocument::fromJson(plant.latest().value(QString("lumoscan/line5/instrument/%1/stats").arg(n))).object();
    };
    EXPECT_TRUE(waitFor([&] { return published(kBadCrc).value("requests").toInteger() == long(stats.instrument(kBadCrc).requests); }, 3000));
    for (int n : {kHealthy, kSilent, kBadCrc, kLate, kForeign}) {
        const QJsonObject json = published(n);
        const lumo::InstrumentStats& s = stats.instrument(n);
        EXPECT_EQ(json.value("answers").toInteger(), long(s.answers)) << n;
        EXPECT_EQ(json.value("unanswered").toInteger(), long(s.unanswered)) << n;
        EXPECT_EQ(json.value("rejected").toObject().value("check").toInteger(), long(s.rejectedFor(lumo::Rejection::Check))) << n;
        EXPECT_EQ(json.value("rejected").toObject().value("foreign").toInteger(),
                  long(s.rejectedFor(lumo::Rejection::Foreign))) << n;
    }
    EXPECT_TRUE(published(kSilent).value("last_answer").isNull());
    EXPECT_GT(published(kLate).value("answer_ms").toObject().value("median").toDouble(), 100.0);
    const QJsonObject line = QJsonDocument::fromJson(plant.latest().value("lumoscan/line5/line")).object();
    EXPECT_EQ(line.value("bytes_received").toInteger(), long(stats.bytesReceived()));
    std::printf("[ stats    ] %zu requests, %zu answers on the line; the late one answered in %.1f ms (median), "
                "a healthy one in %.1f ms\n",
                log.requested.size(), log.answers.size(), late->count() / 1000.0, healthy->count() / 1000.0);
}

}  // namespace

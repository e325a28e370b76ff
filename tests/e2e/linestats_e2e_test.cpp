// The line statistics end to end: lumoscan13 polls instruments at mixed
// addresses (one silent, one sending bad CRCs, one answering late, one that
// now and then answers under another address) and publishes its statistics;
// they must say, instrument by instrument, what the simulator's log says it
// did.

#include "broker.h"
#include "linelog.h"
#include "linerecorder.h"
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
    LineRecorder recorder;
    StationRun run(dir, Protocol::Modbus, [&](lumo::StationConfig& config) {
        config.statsPeriod = std::chrono::milliseconds(300);
        recorder.installIn(config);
    });
    ASSERT_EQ(run.station->start(), lumo::StartupResult::Polling);
    waitFor([] { return false; }, 5000);

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

    // Request by request, what the station should have counted. An exchange
    // the line held up (the simulator read the request too late for its
    // answer to be back before the next tick, or never: a tick's clearing
    // took it back) may or may not have been taken; every other exchange is
    // counted exactly as the simulator answered it.
    const std::chrono::microseconds answerOnTheWire(59375);  // 57 bytes at 9600 baud
    struct Expected {
        long written = 0, failed = 0, read = 0, taken = 0, badCrc = 0, foreign = 0;
        long heldUpTaken = 0, heldUpBadCrc = 0, heldUpForeign = 0;
    };
    std::map<int, Expected> expected;
    long heldUp = 0;
    // The last request the station wrote: no tick came after it, so unless
    // its answer came and was taken it is still waiting to be judged.
    const std::vector<Exchange> exchanges = exchangesOf(recorder, sim);
    ASSERT_FALSE(exchanges.empty());
    const Exchange& final = exchanges.back();
    std::size_t bytesInTime = 0, bytesHeldUp = 0, thrownInTime = 0, thrownHeldUp = 0;
    for (const LineRecorder::Write& write : recorder.writes())
        ++(write.wentOut ? expected[write.bytes[0]].written : expected[write.bytes[0]].failed);
    for (const Exchange& exchange : exchanges) {
        Expected& e = expected[exchange.address];
        e.read += exchange.readUs.has_value();
        const bool late = heldUpByTheLine(exchange, answerOnTheWire);
        heldUp += late;
        if (!exchange.answer)
            continue;
        const bool badCrc = faultNames(exchange.answer->fault, {"badcrc"});
        const bool foreign = !badCrc && exchange.answer->addr != exchange.address;
        (late ? bytesHeldUp : bytesInTime) += exchange.answer->bytes;
        if (badCrc)
            (late ? thrownHeldUp : thrownInTime) += exchange.answer->bytes;
        long& count = badCrc ? (late ? e.heldUpBadCrc : e.badCrc)
                             : foreign ? (late ? e.heldUpForeign : e.foreign) : (late ? e.heldUpTaken : e.taken);
        ++count;
    }
    for (int n = 1; n <= kCount; ++n) {
        SCOPED_TRACE("instrument " + std::to_string(n));
        const lumo::InstrumentStats& s = stats.instrument(n);
        const Expected& e = expected[n];
        // Every request the station counts is one it wrote.
        EXPECT_EQ(long(s.requests), e.written);
        EXPECT_EQ(long(s.failedWrites), e.failed);
        EXPECT_EQ(told[n].requests, e.read) << "the simulator read requests the station did not write";
        // Every request was answered or left unanswered, but for the last
        // one written, whose tick never came: it waits, unless its own
        // answer came for it (in time, or held up by the line and taken
        // anyway); an answer with a bad check or another's address ends no
        // request.
        const long waiting = long(s.requests) - long(s.answers + s.unanswered);
        const bool endsTheFinal = final.answer && !faultNames(final.answer->fault, {"badcrc"}) &&
                                  final.answer->addr == final.address;
        if (n != final.address)
            EXPECT_EQ(waiting, 0);
        else if (endsTheFinal)
            EXPECT_TRUE(waiting == 0 || (waiting == 1 && heldUpByTheLine(final, answerOnTheWire))) << waiting;
        else
            EXPECT_EQ(waiting, 1);
        const auto between = [](long counted, long least, long more) { return counted >= least && counted <= least + more; };
        EXPECT_PRED3(between, long(s.answers), e.taken, e.heldUpTaken);
        EXPECT_PRED3(between, long(s.rejectedFor(lumo::Rejection::Check)), e.badCrc, e.heldUpBadCrc);
        EXPECT_PRED3(between, long(s.rejectedFor(lumo::Rejection::Foreign)), e.foreign, e.heldUpForeign);
    }
    EXPECT_GT(told[kBadCrc].badCrc, 0);
    EXPECT_GT(told[kForeign].foreign, 0);
    EXPECT_EQ(stats.instrument(kSilent).answers, 0u);
    EXPECT_GE(stats.bytesReceived(), bytesInTime);
    EXPECT_LE(stats.bytesReceived(), bytesInTime + bytesHeldUp);
    EXPECT_GE(stats.bytesThrownAway(), thrownInTime);
    EXPECT_LE(stats.bytesThrownAway(), thrownInTime + thrownHeldUp);
    if (heldUp > 0)
        std::printf("[ held up  ] %ld exchanges held up by the line (%zu answer bytes), each allowed either way\n",
                    heldUp, bytesHeldUp);
    const auto healthy = stats.instrument(kHealthy).answerTimes.median();
    const auto late = stats.instrument(kLate).answerTimes.median();
    ASSERT_TRUE(healthy && late);
    EXPECT_GE(*late - *healthy, std::chrono::milliseconds(35)) << "the late instrument's 40 ms";

    // The plant network gets the same, retained.
    const auto published = [&](int n) {
        return QJsonDocument::fromJson(plant.latest().value(QString("lumoscan/line5/instrument/%1/stats").arg(n))).object();
    };
    // Published every 300 ms when something changed: the last change of
    // each instrument and of the line reaches the broker within a period or
    // two (the station has stopped asking).
    EXPECT_TRUE(waitFor([&] {
        for (int n : {kHealthy, kSilent, kBadCrc, kLate, kForeign})
            if (published(n).value("requests").toInteger() != long(stats.instrument(n).requests) ||
                published(n).value("answers").toInteger() != long(stats.instrument(n).answers) ||
                published(n).value("unanswered").toInteger() != long(stats.instrument(n).unanswered))
                return false;
        return QJsonDocument::fromJson(plant.latest().value("lumoscan/line5/line")).object().value("bytes_received").toInteger() ==
               long(stats.bytesReceived());
    }, 5000));
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

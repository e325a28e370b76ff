#include "linerecorder.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <ctime>

namespace lumo::testing {

namespace {

// An answer whose last byte left the simulator this soon before the tick
// may not have been read by the station yet, through no fault of its own.
constexpr std::int64_t kDeliveryUs = 5000;
// A pseudo-terminal hands a request over in microseconds: one the
// simulator had this long to read and did not was held up by the line.
constexpr std::int64_t kUnreadUs = 10000;

// The calling thread's run-queue time, from the kernel's scheduler
// statistics (its second figure, in nanoseconds); 0 where there are none.
std::int64_t queuedSoFarUs()
{
    std::FILE* file = std::fopen("/proc/thread-self/schedstat", "r");
    if (!file)
        return 0;
    unsigned long long running = 0, waiting = 0;
    const int read = std::fscanf(file, "%llu %llu", &running, &waiting);
    std::fclose(file);
    return read == 2 ? static_cast<std::int64_t>(waiting / 1000) : 0;
}

struct SimEvent {
    std::int64_t atUs;
    bool read;  // rx, else tx
    Bytes bytes;
    int to;     // tx: the instrument that answered
    int addr;   // tx: the address its answer carries
    std::string fault;
};

std::vector<SimEvent> simEventsOf(const Simulator& sim)
{
    std::vector<SimEvent> events;
    for (const QString& line : sim.logLines()) {
        const QJsonObject event = QJsonDocument::fromJson(line.toUtf8()).object();
        const QString ev = event.value("ev").toString();
        if (ev != "rx" && ev != "tx")
            continue;
        const QByteArray hex = QByteArray::fromHex(event.value("hex").toString().toLatin1());
        events.push_back({static_cast<std::int64_t>(event.value("t_us").toDouble()), ev == "rx",
                          Bytes(hex.begin(), hex.end()), event.value("to").toInt(-1), event.value("addr").toInt(-1),
                          event.value("fault").toString().toStdString()});
    }
    return events;
}

// The instrument a request asks: byte 1 of a block request, byte 0 of a
// Modbus one.
int addressOf(const Bytes& request) { return request.size() == 4 ? request[1] : request.empty() ? -1 : request[0]; }

}  // namespace

std::int64_t monotonicUs(std::chrono::steady_clock::time_point at)
{
    return std::chrono::duration_cast<std::chrono::microseconds>(at.time_since_epoch()).count();
}

void LineRecorder::installIn(StationConfig& config)
{
    config.makePollCycle = [this, make = config.makePollCycle](SerialPort& port, GridModel& grid,
                                                               const ValueFields& fields,
                                                               const StationSettings& settings, OneShotTimer& chain) {
        port_ = &port;
        return make(*this, grid, fields, settings, chain);
    };
}

Status LineRecorder::clearInput()
{
    inputClears_.push_back(monotonicUs());
    queuedAtClears_.push_back(queuedSoFarUs());
    return port_->clearInput();
}

Status LineRecorder::write(std::span<const std::uint8_t> bytes)
{
    const std::int64_t at = monotonicUs();
    const std::int64_t queued = queuedSoFarUs();
    const Status status = port_->write(bytes);
    writes_.push_back({at, Bytes(bytes.begin(), bytes.end()), status.ok(), queued});
    return status;
}

std::vector<Exchange> exchangesOf(const LineRecorder& recorder, const Simulator& sim)
{
    const std::vector<SimEvent> events = simEventsOf(sim);
    std::vector<Exchange> exchanges;
    std::size_t next = 0;  // the first simulator event not yet matched
    for (const LineRecorder::Write& write : recorder.writes()) {
        if (!write.wentOut)
            continue;
        Exchange exchange{write.atUs, write.bytes, addressOf(write.bytes), {}, {}, {}, {}};
        // The next request the simulator read, if it is this one: requests
        // it never read (a tick cleared them first) are not in its log.
        std::size_t read = next;
        while (read < events.size() && !events[read].read)
            ++read;
        if (read < events.size() && events[read].bytes == write.bytes && events[read].atUs + 1000 >= write.atUs) {
            exchange.readUs = events[read].atUs;
            for (std::size_t i = read + 1; i < events.size() && !events[i].read && !exchange.answer; ++i)
                if (events[i].to == exchange.address)
                    exchange.answer = SimAnswer{events[i].atUs, events[i].bytes.size(), events[i].addr, events[i].fault};
            next = read + 1;
        }
        for (std::size_t i = 0; i < recorder.inputClears().size(); ++i)
            if (recorder.inputClears()[i] > write.atUs) {
                exchange.judgedUs = recorder.inputClears()[i];
                exchange.queuedUs = recorder.queuedAtClears()[i] - write.queuedUs;
                break;
            }
        exchanges.push_back(std::move(exchange));
    }
    return exchanges;
}

bool heldUpByTheLine(const Exchange& exchange, std::chrono::microseconds answerOnTheWire)
{
    if (!exchange.judgedUs)
        return false;
    if (!exchange.readUs)
        return *exchange.judgedUs - exchange.writtenUs >= kUnreadUs;
    const std::int64_t answerEnds = exchange.answer ? exchange.answer->sentUs : *exchange.readUs + answerOnTheWire.count();
    return answerEnds + kDeliveryUs > *exchange.judgedUs;
}

bool keptFromTheCpu(const Exchange& exchange)
{
    if (!exchange.judgedUs || !exchange.queuedUs || !exchange.answer)
        return false;
    // The whole exchange's queued time against the answer's part of it: on
    // a tick of 50 ms or more that part is most of the exchange.
    return *exchange.queuedUs + kDeliveryUs >= *exchange.judgedUs - exchange.answer->sentUs;
}

bool heldUpOutsideTheStation(const Exchange& exchange, std::chrono::microseconds answerOnTheWire)
{
    return heldUpByTheLine(exchange, answerOnTheWire) || keptFromTheCpu(exchange);
}

}  // namespace lumo::testing

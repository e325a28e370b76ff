#include "linelog.h"

#include <QJsonDocument>

#include <chrono>
#include <sstream>

namespace lumo::testing {

LineLog readLineLog(const Simulator& sim)
{
    LineLog log;
    for (const QString& line : sim.logLines()) {
        const QJsonObject event = QJsonDocument::fromJson(line.toUtf8()).object();
        const QString ev = event.value("ev").toString();
        if (ev == "rx") {
            const QByteArray frame = QByteArray::fromHex(event.value("hex").toString().toLatin1());
            if (frame.size() == 4)
                log.requested.push_back(uint8_t(frame[1]));
            else if (frame.size() == 8)
                log.requested.push_back(uint8_t(frame[0]));
        } else if (ev == "tx") {
            TxEvent tx;
            tx.addr = event.value("addr").toInt(-1);
            tx.to = event.value("to").toInt(-1);
            tx.block = event.value("block").toInt(-1);
            tx.fault = event.value("fault").toString().toStdString();
            tx.hasValue = event.contains("value");
            tx.value = event.value("value").toDouble();
            tx.bytes = static_cast<std::size_t>(event.value("hex").toString().size() / 2);
            log.answers.push_back(tx);
        } else if (ev == "storm") {
            ++log.storms;
        }
    }
    return log;
}

bool faultNames(const std::string& faults, std::initializer_list<const char*> names)
{
    std::istringstream in(faults);
    std::string name;
    while (std::getline(in, name, '+'))
        for (const char* wanted : names)
            if (name == wanted)
                return true;
    return false;
}

void CellRecorder::cellChanged(int instrument, int slot, const std::string& text)
{
    changes.push_back({instrument, slot, text,
                       std::chrono::duration_cast<std::chrono::microseconds>(
                           std::chrono::steady_clock::now().time_since_epoch())
                           .count()});
}

std::string CellRecorder::textAt(int instrument, int slot, std::int64_t atUs) const
{
    std::string text;
    for (const Change& c : changes)
        if (c.instrument == instrument && c.slot == slot && c.atUs <= atUs)
            text = c.text;
    return text;
}

bool CellRecorder::blankedAfterValue(int instrument) const
{
    bool filled = false;
    for (const Change& c : changes) {
        if (c.instrument != instrument || c.slot != 0)
            continue;
        if (!c.text.empty())
            filled = true;
        else if (filled)
            return true;
    }
    return false;
}

bool CellRecorder::everFilled(int instrument) const
{
    for (const Change& c : changes)
        if (c.instrument == instrument && !c.text.empty())
            return true;
    return false;
}

}  // namespace lumo::testing

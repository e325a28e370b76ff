#include "instrumentdata.h"

namespace lumo::sim {

namespace {

std::uint8_t diameterCodeOf(const Instrument& instrument)
{
    if (instrument.diameterCode)
        return *instrument.diameterCode;
    return diameterCodeOfMm(instrument.diameterMm.base).value_or(0);
}

} // namespace

EncodedBlock instrumentBlock(const Instrument& instrument, int block, double seconds)
{
    if (const auto& raw = instrument.rawBlocks[static_cast<std::size_t>(block)]) {
        EncodedBlock encoded;
        encoded.payload = *raw;
        return encoded;
    }
    switch (block) {
    case 0: return encodeFlow(instrument.flow.at(seconds), instrument.flowCode);
    case 1: return encodeVelocity(instrument.velocity.at(seconds), instrument.velocityCode);
    case 2: return encodePercent(instrument.percent.at(seconds));
    case 3: return encodeResistance(instrument.resistance.at(seconds));
    case 4: return encodeTotal(instrument.forwardTotal.at(seconds), instrument.forwardCode);
    case 5: return encodeTotal(instrument.reverseTotal.at(seconds), instrument.reverseCode);
    case 6: return encodeAlarmByte(instrument.alarmByte.value_or(instrument.alarmsAt(seconds)));
    default: return encodeDiameterCode(diameterCodeOf(instrument));
    }
}

RegisterImage instrumentImage(const Instrument& instrument, double seconds)
{
    RegisterValues values;
    values.flow = instrument.flow.at(seconds);
    values.velocity = instrument.velocity.at(seconds);
    values.percent = instrument.percent.at(seconds);
    values.resistance = instrument.resistance.at(seconds);
    values.forwardTotal = instrument.forwardTotal.at(seconds);
    values.reverseTotal = instrument.reverseTotal.at(seconds);
    values.diameterMm = instrument.diameterMm.at(seconds);
    values.alarms = instrument.alarmsAt(seconds);
    RegisterImage image = registerImage(values);
    for (const auto& [reg, word] : instrument.rawRegisters)
        image[static_cast<std::size_t>(reg)] = word;
    return image;
}

} // namespace lumo::sim

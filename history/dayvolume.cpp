#include "dayvolume.h"

#include "decimal.h"

namespace lumo::history {

namespace {

// The volume of one total over the day, or why there is none.
void volumeOf(const char* which, const std::optional<std::string>& first, const std::optional<std::string>& last,
              const std::optional<TotalDrop>& drop, const ToLocal& toLocal, std::optional<std::string>& volume,
              std::string& note)
{
    if (drop) {
        note = std::string(which) + "累积量减小：" + drop->from + " → " + drop->to + "（" + clockText(toLocal(drop->atMs)) +
               "，复位或更换）";
        return;
    }
    if (!first || !last)
        return;
    const auto from = Decimal::of(*first), to = Decimal::of(*last);
    if (!from || !to) {
        note = std::string(which) + "累积量“" + (from ? *last : *first) + "”不是能相减的数";
        return;
    }
    volume = (*to - *from).text();
}

}  // namespace

DayVolume volumeOf(const DayRow& day, const ToLocal& toLocal)
{
    DayVolume volume;
    volume.instrument = day.instrument;
    volume.day = day.day;
    volume.answeredHours = day.answeredSeconds / 3600.0;
    volume.alarms = day.alarms;
    volumeOf("正向", day.firstForward, day.lastForward, day.forwardDrop, toLocal, volume.forward, volume.forwardNote);
    volumeOf("反向", day.firstReverse, day.lastReverse, day.reverseDrop, toLocal, volume.reverse, volume.reverseNote);
    return volume;
}

std::string alarmWords(AlarmBits alarms)
{
    std::string words;
    for (std::size_t i = 0; i < kAlarmCount; ++i) {
        if (!(alarms & (1u << i)))
            continue;
        if (!words.empty())
            words += "、";
        words += std::string(kAlarms[i].suffix.substr(1));  // without its leading comma
    }
    return words;
}

}  // namespace lumo::history

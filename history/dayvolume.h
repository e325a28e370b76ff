#pragma once
// An instrument's volumes over a local day: the difference of its totals
// between the day's first and last answer, exactly, on the texts shown. A
// total that went down in the day (a reset, a replaced meter, a wrap) gives
// no volume: the day says so instead, never a negative volume.

#include "localtime.h"
#include "records.h"

#include <optional>
#include <string>

namespace lumo::history {

struct DayVolume {
    int instrument = 0;
    std::string day;
    std::optional<std::string> forward, reverse;  // m³, as decimal text
    std::string forwardNote, reverseNote;         // why there is none
    double answeredHours = 0;
    AlarmBits alarms = 0;
};

// `toLocal`: for the time of a drop in the notes.
DayVolume volumeOf(const DayRow& day, const ToLocal& toLocal);

// The alarms of a bit set, in words as the cells say them: "空管报警、上限报警".
std::string alarmWords(AlarmBits alarms);

}  // namespace lumo::history

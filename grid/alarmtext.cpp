#include "alarmtext.h"

namespace lumo {

std::string alarmText(const AlarmFlags& raised)
{
    std::string text(kAlarmNormal);
    for (std::size_t i = 0; i < kAlarmCount; ++i)
        if (raised[i])
            text += kAlarms[i].suffix;
    return text;
}

}  // namespace lumo

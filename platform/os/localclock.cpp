#include "localclock.h"

#include <chrono>

namespace lumo {

std::int64_t utcNowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string localDayOf(std::int64_t utcMs) { return history::dayText(localTimeOf(utcMs)); }

}  // namespace lumo

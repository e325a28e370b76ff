#include "settingsstore.h"

namespace lumo {

std::optional<int> portNumberOfEntry(const std::string& entry)
{
    for (int n = 1; n <= 10; ++n) {
        if (entry == "com" + std::to_string(n))
            return n;
    }
    return std::nullopt;
}

}  // namespace lumo

#include "portlist.h"

namespace lumo {

std::string portEntry(int number) { return "com" + std::to_string(number); }

std::optional<int> portNumberOfEntry(std::string_view entry)
{
    for (int n = 1; n <= kListedPorts; ++n) {
        if (entry == portEntry(n))
            return n;
    }
    return std::nullopt;
}

std::optional<std::string> portEntryOfField(std::string_view portText)
{
    for (int n = 1; n <= kListedPorts; ++n) {
        if (portText == std::to_string(n))
            return portEntry(n);
    }
    return std::nullopt;
}

}  // namespace lumo

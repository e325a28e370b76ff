#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lumo::sim {

using Bytes = std::vector<std::uint8_t>;

// Upper-case hexadecimal, two digits per byte, no separators: "2A01002E".
std::string hexText(const Bytes& bytes);

} // namespace lumo::sim

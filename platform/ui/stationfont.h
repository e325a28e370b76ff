#pragma once

namespace lumo {

// Picks the Simplified Chinese CJK font for the whole program; false when no
// such font is installed (Chinese would then be drawn as empty boxes).
bool applyStationFont();

}  // namespace lumo

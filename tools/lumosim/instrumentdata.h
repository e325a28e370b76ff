#pragma once

#include "blockanswer.h"
#include "registerimage.h"
#include "scenario.h"

namespace lumo::sim {

// Block k of an instrument at `seconds` after the start: its raw payload if
// the scenario gives one, else encoded from the quantities.
EncodedBlock instrumentBlock(const Instrument& instrument, int block, double seconds);

// The 26-register image of an instrument at `seconds` after the start: encoded
// from the quantities, then the raw registers laid over it.
RegisterImage instrumentImage(const Instrument& instrument, double seconds);

} // namespace lumo::sim

// The values of a unit as a map file's unit block, for the web page's
// "Save as map file": a map of {"demo": false, "units": {"U": block, ...}}
// read back with --map gives each unit the same values (the demo device's
// live values as they were when saved).
#pragma once

#include <nlohmann/json.hpp>

#include "unit_model.hpp"

namespace sim {

// Every non-zero value of the four tables, as arrays of consecutive values;
// every file (one without non-zero records as {"0": 0}, so that it is made);
// the identification objects (those of 0..2 that are missing as "", which
// removes them); the slave id, exception status and run indicator.
nlohmann::ordered_json unitBlock(const UnitModel& unit);

}  // namespace sim

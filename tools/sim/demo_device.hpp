// The demo device: what every served unit offers when no map file is given,
// so that a newcomer polling the simulator sees plausible, changing values.
//
//   input registers  0  uptime in seconds, low word       (live)
//                    1  uptime in seconds, high word      (live)
//                    2  ramp 0..999, +10 per second       (live)
//                    3  temperature in 0.1 degC, 200..300 and back each minute (live)
//   discrete inputs  0  toggles every second              (live)
//                    1  always on
//   holding regs     0..9   10, 20, ..., 100 (writable; writes are kept)
//   coils            0..7   on, off, on, off, ... (writable)
//   file 1           records 0..9 hold 1000..1009 (records 0..9999 writable)
//   identification   vendor, product code, revision, product and model names
//   report slave id  "mbslave-sim demo device"
#pragma once

#include <cstdint>
#include <string>

#include "unit_model.hpp"

namespace sim {

// The identification every unit has, demo or not: objects 0..2 (vendor name,
// product code, revision) and the report-slave-id text.
void loadIdentification(UnitModel& unit, const std::string& revision);

// The demo values above (identification included); turns the live values on.
void loadDemoDevice(UnitModel& unit, const std::string& revision);

// Live values at the given uptime.
std::uint16_t demoInputRegister(int address, std::uint64_t uptimeMs);
int demoBlinkingInput(std::uint64_t uptimeMs);

}  // namespace sim

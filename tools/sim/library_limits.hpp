// What libmbslave accepts and does by default, as include/mbslave.h and the
// manual state it for each setter. The header declares these as text at the
// functions, not as constants, so they are named once here; the unit tests
// check every one against the library itself.
#pragma once

#include <cstdint>

#include "mbslave.h"

namespace sim::library {

// mbusSlave_setTimeout: 0..100000 ms, 1000 on a new handle.
constexpr std::uint32_t kMaxTimeOutMs = 100000;
constexpr std::uint32_t kDefaultTimeOutMs = 1000;
// mbusSlave_setConnectionTimeOut: 0..3600000 ms.
constexpr std::uint32_t kMaxConnectionTimeOutMs = 3600000;
// mbusSlave_setFrameTolerance: 0..20 ms.
constexpr std::uint32_t kMaxFrameToleranceMs = 20;
// mbusSlave_enableRs485Mode: a turnaround delay of 0..100000 ms.
constexpr std::uint32_t kMaxRs485DelayMs = 100000;
// Slave addresses (unit identifiers); 0 is the broadcast address on a serial line.
constexpr int kMaxSlaveAddress = 255;
constexpr int kBroadcastAddress = 0;
// The RTU silence that ends a frame: four 11-bit character times, at least 2000 us.
constexpr int kRtuSilenceCharacters = 4;
constexpr int kRtuSilenceBitsPerCharacter = 11;
constexpr double kRtuMinSilenceUs = 2000;
// mbusSlave_startupSerialServer's parity argument.
constexpr int kDefaultParity = PARITY_EVEN;

}  // namespace sim::library

// Start-up shared by the IP fuzz targets: the server on an ephemeral
// loopback port, with a fixed tick (time does not pass within an input), one
// table for unit identifiers 0..kServedUnits (those above have none), a
// 1 ms protocol time-out and the exception-reply policy from the input's
// flags byte (bit 0: disabled).
#pragma once

#include <cstdint>

#include "engine/data_table.hpp"
#include "ip/ip_protocol.hpp"

namespace mbslave::fuzz {

constexpr int kServedUnits = 200;

inline std::uint32_t fixedTick() noexcept { return 1000; }

// False when no port could be bound (nothing to learn from the input then).
inline bool startFuzzedIpServer(IpProtocol& server, DataTable& table, std::uint8_t flags) {
    server.setTickSource(&fixedTick);
    for (int unit = 0; unit <= kServedUnits; ++unit) server.setDataTable(unit, &table);
    if ((flags & 1) != 0) server.disableExceptionReplies();
    server.setTimeout(1);
    server.setPort(0);
    return server.startupServer("127.0.0.1") == MB_OK;
}

}  // namespace mbslave::fuzz

// An RTU slave on a recording fake device, and RTU frame builders.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/rtu_frame_bytes.hpp"
#include "serial/rtu_protocol.hpp"
#include "support/fake_serial_line.hpp"
#include "support/frames.hpp"

namespace mbslave::test {

// Diagnostics "return query data" with n data bytes: n + 6 bytes with CRC,
// answered by an echo of itself.
inline Bytes echoRequest(std::uint8_t address, int dataBytes) {
    Bytes frame{address, 0x08, 0x00, 0x00};
    for (int i = 0; i < dataBytes; ++i) frame.push_back(static_cast<std::uint8_t>(i * 7 + 1));
    return withCrc(frame);
}

class TestRtuProtocol : public RtuProtocol {
public:
    using RtuProtocol::addressTimers;
    using RtuProtocol::frameTolerance;
    using RtuProtocol::sendReply;
};

using FakeRtuLine = FakeSerialLine<TestRtuProtocol>;

}  // namespace mbslave::test

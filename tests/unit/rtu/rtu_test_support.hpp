// An RTU slave with a recording fake device behind its port and served
// tables for chosen addresses, plus frame builders.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <vector>

#include "engine/crc16.hpp"
#include "serial/rtu_protocol.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_serial_device.hpp"
#include "support/served_table.hpp"

namespace mbslave::test {

using Bytes = std::vector<std::uint8_t>;

// The frame with its CRC appended, low byte first.
inline Bytes withCrc(Bytes frame) {
    const std::uint16_t crc = crc16(frame.data(), static_cast<int>(frame.size()));
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    return frame;
}

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
};

struct FakeRtuLine {
    explicit FakeRtuLine(std::initializer_list<int> addresses, int baudRate = 19200) {
        protocol->setTickSource(&FakeClock::tick);
        protocol->attachSerialDevice(&device);
        for (int address : addresses) protocol->setDataTable(address, &tables[address]);
        started = protocol->startupSerialServer(u"COM1", baudRate, 8, 1, PARITY_NONE);
        device.events.clear();
        device.readTimeouts.clear();
    }

    // Bytes as received, then a silent interval.
    void receive(const Bytes& bytes) {
        for (std::uint8_t byte : bytes) device.input.push_back(byte);
        device.input.push_back(FakeSerialDevice::kSilence);
    }
    int accessCount() const {
        std::size_t count = 0;
        for (const auto& entry : tables) count += entry.second.accesses.size();
        return static_cast<int>(count);
    }

    FakeSerialDevice device;
    std::map<int, ServedTable> tables;
    std::unique_ptr<TestRtuProtocol> protocol = std::make_unique<TestRtuProtocol>();
    int started = -1;
};

}  // namespace mbslave::test

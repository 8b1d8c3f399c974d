// A serial slave (RTU or ASCII) started on a recording fake device, with
// served tables for chosen addresses and the fake clock as its tick.
#pragma once

#include <initializer_list>
#include <map>
#include <memory>

#include "support/fake_clock.hpp"
#include "support/fake_serial_device.hpp"
#include "support/recording_table.hpp"
#include "support/wide_literal.hpp"

namespace mbslave::test {

template <typename Protocol>
struct FakeSerialLine {
    explicit FakeSerialLine(std::initializer_list<int> addresses, int baudRate = 19200,
                            int dataBits = 8) {
        protocol->setTickSource(&FakeClock::tick);
        protocol->attachSerialDevice(&device);
        for (int address : addresses) protocol->setDataTable(address, &tables[address]);
        started = protocol->startupSerialServer(wide(u"COM1"), baudRate, dataBits, 1, PARITY_NONE);
        device.events.clear();
        device.readTimeouts.clear();
    }

    // Bytes as received, then silence (a read that ends by time-out).
    template <typename Bytes>
    void receive(const Bytes& bytes) {
        for (auto byte : bytes) device.input.push_back(static_cast<std::uint8_t>(byte));
        device.input.push_back(FakeSerialDevice::kSilence);
    }
    int accessCount() const {
        std::size_t count = 0;
        for (const auto& entry : tables) count += entry.second.accesses().size();
        return static_cast<int>(count);
    }

    FakeSerialDevice device;
    std::map<int, RecordingTable> tables;  // outlive the protocol, which refers to them
    std::unique_ptr<Protocol> protocol = std::make_unique<Protocol>();
    int started = -1;
};

}  // namespace mbslave::test

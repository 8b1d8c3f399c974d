// A concrete serial protocol for tests: its server loop echoes one byte as
// a reply; the silence hook leaves a marker in a fake device's record.
#pragma once

#include <cstdint>

#include "serial/serial_protocol.hpp"
#include "support/fake_serial_device.hpp"

namespace mbslave::test {

class TestSerialProtocol : public SerialProtocol {
public:
    TestSerialProtocol() noexcept { requestInfo.protocolType = MB_PROTOCOL_RTU; }

    int servePass() override {
        std::uint8_t byte = 0;
        const int read = port.readByte(&byte, timeOut * 1000);
        if (read == MB_ERR_REPLY_TIMEOUT) return MB_OK;
        if (read != 0) return MB_ERR_IO;
        lastReply = transmitReply(&byte, 1);
        recordServedRequest(1);
        return MB_OK;
    }

    // Puts a fake behind the port and lets the silence hook mark its record.
    void attach(FakeSerialDevice& device) {
        attachSerialDevice(&device);
        silenceMarker = &device;
    }

    using SerialProtocol::port;
    using SerialProtocol::recordServedRequest;
    using SerialProtocol::rs485Delay;
    using SerialProtocol::rs485Mode;
    using SerialProtocol::startupSerial;
    using SerialProtocol::transmitReply;

    int lastReply = -1;

protected:
    // The server loop echoes without decoding requests; nothing else replies.
    int sendReply(int) override { return MB_ERR_IO; }
    bool waitForLineSilence() override {
        if (silenceMarker != nullptr) silenceMarker->mark();
        return true;
    }

private:
    FakeSerialDevice* silenceMarker = nullptr;
};

}  // namespace mbslave::test

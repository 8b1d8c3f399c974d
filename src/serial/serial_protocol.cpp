#include "serial/serial_protocol.hpp"

#include <cstring>
#include <utility>

#include "platform/clock.hpp"
#include "serial/wide_text.hpp"

namespace mbslave {

SerialProtocol::~SerialProtocol() { SerialProtocol::shutdownServer(); }

void SerialProtocol::shutdownServer() {
    port.close();
    markStarted(false);
    clearActivity();
}

int SerialProtocol::startupSerialServer(const MbWideChar* portName, int baudRate, int dataBits,
                                        int stopBits, int parity) {
    // A running server keeps its port name: peerName points to it.
    if (isStarted()) return MB_ERR_ILLEGAL_STATE;
    portName_ = toUtf8(portName);
    // Without memory for the copy the name is empty, which names no port.
    const char* name = portName_ != nullptr ? portName_.get() : "";
    return startupSerial(name, baudRate, dataBits, stopBits, parity);
}

int SerialProtocol::startupSerial(const char* portName, int baudRate, int dataBits, int stopBits,
                                  int parity) {
    requestInfo.peerName = portName;
    if (isStarted()) return MB_ERR_ILLEGAL_STATE;
    if (noDataTableConfigured()) return MB_ERR_NO_DATA_TABLE;
    // Address 0 is the broadcast address on a serial line.
    if (dataTables[kBroadcastAddress] != nullptr) return MB_ERR_SLAVE_ADDRESS_ZERO;
    if (dataBits != 7 && dataBits != 8) return MB_ERR_ILLEGAL_ARGUMENT;

    const int opened = port.open(portName);
    if (opened == MB_ERR_SERIAL_PORT_ALREADY_OPEN || opened == MB_ERR_NO_PERMISSION) return opened;
    if (opened != MB_OK) return MB_ERR_PORT_OPEN;  // no such port, or it failed on opening
    if (port.configure(baudRate, dataBits, stopBits, parity, HANDSHAKE_NONE) != MB_OK) {
        port.close();  // the device gets its own settings back
        return MB_ERR_ILLEGAL_ARGUMENT;
    }
    // Idle level of RTS: an RS-485 node listens with its transmitter off;
    // otherwise RTS stays asserted while the server runs.
    if (rs485Mode) {
        port.clearRts();
    } else {
        port.setRts();
    }
    markStarted(true);
    return MB_OK;
}

int SerialProtocol::enableRs485Mode(std::uint32_t delay) noexcept {
    if (delay > kMaxRs485Delay) return MB_ERR_ILLEGAL_ARGUMENT;
    if (isStarted()) return MB_ERR_ILLEGAL_STATE;
    rs485Delay = delay;
    rs485Mode = delay != 0;
    return MB_OK;
}

std::uint32_t SerialProtocol::frameTimeLimit(int longestCharacters) const noexcept {
    if (timeOut == 0) return 0;
    constexpr std::uint64_t kBitsPerCharacter = 11;
    const std::uint64_t rate = port.baudRate() > 0 ? static_cast<std::uint64_t>(port.baudRate()) : 1;
    const std::uint64_t bits = static_cast<std::uint64_t>(longestCharacters) * kBitsPerCharacter;
    const std::uint64_t twiceFrameMs = 2 * ((bits * 1000 + rate - 1) / rate);
    return twiceFrameMs > timeOut ? static_cast<std::uint32_t>(twiceFrameMs) : timeOut;
}

// ASCII framing needs no silence before a reply.
bool SerialProtocol::waitForLineSilence() { return true; }

bool SerialProtocol::frameTimeExceeded(std::uint32_t startedAt, std::uint32_t limit) const noexcept {
    return limit != 0 && now() - startedAt >= limit;
}

int SerialProtocol::transmitReply(const std::uint8_t* frame, int length) {
    port.purge();  // input that came meanwhile and left-over output go
    // A reply into a line that never falls silent would only collide.
    if (!waitForLineSilence()) return MB_ERR_SEND_TIMEOUT;
    if (rs485Mode) port.setRts();  // transmitter on
    // A write lasts as long as the frame is on the wire where the driver
    // holds it until the UART has taken it (Windows): the limit covers twice
    // the frame's own time, so a long reply at a low rate is not cut off.
    const std::uint32_t limit = frameTimeLimit(length);
    const int written = port.write(frame, length, limit);
    port.drain(limit);  // bounded like the write: a stuck transmitter must not hold the pass
    if (rs485Mode) {
        platform::sleepMs(rs485Delay);
        port.clearRts();  // back to listening, whether the write went out or not
    }
    return written == MB_OK || written == MB_ERR_SEND_TIMEOUT ? written : MB_ERR_IO;
}

void SerialProtocol::serveFrame(std::uint8_t* frame, int length) {
    const std::uint8_t slaveAddress = frame[0];
    requestInfo.slaveAddress = slaveAddress;
    if (slaveAddress == kBroadcastAddress) {
        serveBroadcast(frame, length);
        return;
    }
    // The peer stays the port's name.
    const int reply = serveRequest(frame, length, RequestOrigin{});
    if (reply == kNotForThisServer) return;
    // A reply that did not reach the line is lost like one that noise
    // corrupted: the master repeats its request, and a device that failed
    // shows at the next read.
    if (reply > 0) static_cast<void>(sendReply(reply));
    finishRequest();
}

void SerialProtocol::serveBroadcast(std::uint8_t* frame, int length) {
    // Each address builds its reply over the frame, so the next one gets
    // the request from this copy.
    std::uint8_t request[kMaxRequestLength];
    if (length > kMaxRequestLength) length = kMaxRequestLength;
    std::memcpy(request, frame, static_cast<std::size_t>(length));
    for (int address = 1; address < kSlaveAddressCount - 1; ++address) {
        if (dataTables[address] != nullptr) {
            std::memcpy(frame, request, static_cast<std::size_t>(length));
            frame[0] = static_cast<std::uint8_t>(address);
            processRequest(frame, length);  // no reply to a broadcast
        }
        addressTimers[address].start(timeOut, now());
    }
    activityTimer.start(timeOut, now());
    ++successCounter;
}

}  // namespace mbslave

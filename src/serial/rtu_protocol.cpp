#include "serial/rtu_protocol.hpp"

#include "engine/rtu_frame_bytes.hpp"

namespace mbslave {

RtuProtocol::RtuProtocol() noexcept { requestInfo.protocolType = MB_PROTOCOL_RTU; }

int RtuProtocol::setFrameTolerance(std::uint32_t milliseconds) noexcept {
    if (milliseconds > kMaxFrameToleranceMs) return MB_ERR_ILLEGAL_ARGUMENT;
    if (isStarted()) return MB_ERR_ILLEGAL_STATE;
    frameTolerance = static_cast<std::int32_t>(milliseconds) * 1000;
    return MB_OK;
}

int RtuProtocol::startupSerialServer(const MbWideChar* portName, int baudRate, int dataBits,
                                     int stopBits, int parity) {
    // A running server keeps the interval of the line it runs on, whatever
    // rate a refused second start-up names.
    if (!isStarted()) silentInterval = rtuSilentInterval(baudRate, frameTolerance);
    if (dataBits != 8) return MB_ERR_ILLEGAL_ARGUMENT;
    return SerialProtocol::startupSerialServer(portName, baudRate, dataBits, stopBits, parity);
}

int RtuProtocol::servePass() {
    const int first = port.readByte(&frame[0], timeOut * 1000);
    if (first == MB_ERR_REPLY_TIMEOUT) return MB_OK;  // no request this time
    if (first != MB_OK) return MB_ERR_IO;

    int count = 1;
    const int received = receiveFrame(count);
    if (received == MB_ERR_IO) return MB_ERR_IO;
    // Every frame that ended counts, dropped or not.
    ++totalCounter;
    if (received != MB_OK) return MB_OK;  // dropped
    if (!hasValidCrc16(frame, count)) return MB_OK;

    serveFrame(frame, count - kCrcLength);
    return MB_OK;
}

int RtuProtocol::receiveFrame(int& count) {
    bool overflow = false;
    const std::uint32_t startedAt = now();
    const std::uint32_t limit = frameTimeLimit(kRtuFrameBufferSize);
    for (;;) {
        const int read = port.readByte(&frame[count], static_cast<std::uint32_t>(silentInterval));
        if (read == MB_ERR_REPLY_TIMEOUT) {
            // The line was silent for one interval: the frame has ended.
            return overflow || count < kMinRtuFrameLength ? MB_ERR_INVALID_FRAME : MB_OK;
        }
        if (read != MB_OK) return MB_ERR_IO;

        // Past 255 bytes the frame is kept from growing: further bytes
        // overwrite its last byte, and it is dropped when it ends.
        if (count < kMaxRtuFrameLength) {
            ++count;
        } else {
            overflow = true;
        }
        if (!overflow && endsByExpectedLength(count)) return MB_OK;
        // A line that never falls silent: the pass returns all the same.
        if (frameTimeExceeded(startedAt, limit)) return MB_ERR_INVALID_FRAME;
    }
}

bool RtuProtocol::endsByExpectedLength(int count) const noexcept {
    if (count < kMinRtuFrameLength) return false;
    if (dataTable(frame[0]) == nullptr) return false;
    return rtuRequestLength(frame, count, RtuLengthRules::serialLine) == count;
}

int RtuProtocol::sendReply(int length) {
    if (length > kRtuFrameBufferSize - kCrcLength) return MB_ERR_IO;  // no room for the CRC
    appendCrc16(frame, length);
    return transmitReply(frame, length + kCrcLength);
}

bool RtuProtocol::waitForLineSilence() {
    // Whatever arrives meanwhile is discarded; the reply starts once the
    // line has been silent for one interval, also after a frame that ended
    // early by its expected length.
    const std::uint32_t startedAt = now();
    const std::uint32_t limit = frameTimeLimit(kRtuFrameBufferSize);
    std::uint8_t discarded = 0;
    while (port.readByte(&discarded, static_cast<std::uint32_t>(silentInterval)) == MB_OK) {
        if (frameTimeExceeded(startedAt, limit)) return false;
    }
    return true;
}

}  // namespace mbslave

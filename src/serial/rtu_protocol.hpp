// Modbus RTU slave on a serial line: frames of address, PDU and CRC-16,
// delimited by silence, one request received and answered per server-loop
// pass.
#pragma once

#include <cstdint>

#include "serial/rtu_frame.hpp"
#include "serial/serial_protocol.hpp"

namespace mbslave {

class RtuProtocol : public SerialProtocol {
public:
    static constexpr ProtocolKinds kKinds = SerialProtocol::kKinds | kind::kRtu;
    RtuProtocol() noexcept;

    // Computes the silent interval from the baud rate and the tolerance,
    // takes 8 data bits only, then starts like every serial server.
    int startupSerialServer(const MbWideChar* portName, int baudRate, int dataBits, int stopBits,
                            int parity) override;
    // Extra end-of-frame silence in ms, 0..20; applies from the next start-up.
    // Range checked before the started state.
    int setFrameTolerance(std::uint32_t milliseconds) noexcept;

    std::int32_t getSilentInterval() const noexcept { return silentInterval; }

protected:
    // Receives one frame and serves it.
    int servePass() override;
    // Sends frame[0..length) with its CRC once the line has been silent for
    // one silent interval. MB_OK, MB_ERR_SEND_TIMEOUT or MB_ERR_IO.
    int sendReply(int length) override;
    bool waitForLineSilence() override;

    std::int32_t silentInterval = kMinSilentInterval;  // microseconds
    std::int32_t frameTolerance = 0;                    // microseconds
    std::uint8_t frame[kRtuFrameBufferSize] = {};

private:
    // Reads the bytes after the first until the frame ends, by silence or by
    // its expected length: MB_OK with count its length, MB_ERR_INVALID_FRAME
    // for a frame to drop (too short, overlong, past its time), MB_ERR_IO.
    int receiveFrame(int& count);
    bool endsByExpectedLength(int count) const noexcept;
};

}  // namespace mbslave

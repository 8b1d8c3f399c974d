// Modbus RTU frames (slave address, PDU, CRC-16) carried over TCP
// connections: the Modbus/TCP server's connections, stream buffers, accept
// step, idle time-out and notifications, with RTU framing instead of the
// MBAP header. A frame ends where the length its bytes tell ends.
#pragma once

#include <cstdint>

#include "ip/tcp_protocol.hpp"

namespace mbslave {

constexpr std::uint16_t kDefaultRtuOverTcpPort = 1100;
// Slave address and PDU plus the CRC.
constexpr int kRtuFrameCapacity = kMaxFrameLength + 2;
// Slave address, function code and the CRC: Read Exception Status and
// Report Slave ID carry nothing more.
constexpr int kMinRtuOverTcpFrame = 4;

class RtuOverTcpProtocol : public TcpProtocol {
public:
    static constexpr ProtocolKinds kKinds = TcpProtocol::kKinds | kind::kRtuOverTcp;
    RtuOverTcpProtocol() noexcept;

protected:
    // A frame is whole once the length its function code and byte count
    // tell is in; a frame that does not tell its length ends where the
    // bytes received so far end. Longer than 256 bytes: broken.
    int examineStream(int slot) noexcept override;
    // Takes the frame; a frame failing its CRC (the stream's framing is
    // lost) or for an address without data table closes the connection.
    bool serveFrontRequest(int slot, int length) override;
    // The total counter counts every frame the stream ends: each frame
    // taken (serveFrontRequest) and the end of a stream without a whole
    // frame (broken, cut off, or closed by the master).
    void recordStreamEnd() noexcept override { ++totalCounter; }
    int streamCapacity() const noexcept override;

private:
    std::uint8_t frame[kRtuFrameCapacity] = {};
};

}  // namespace mbslave

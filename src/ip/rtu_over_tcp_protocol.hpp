// Modbus RTU frames (slave address, PDU, CRC-16) carried over TCP
// connections: the Modbus/TCP server's connections, accept step, idle
// time-out and notifications, with RTU framing instead of the MBAP header.
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
    // One read of the connection is one whole frame; false closes the
    // connection (short read, unserved address, CRC mismatch, reply that
    // left only in part).
    bool serveConnection(int slot) override;
    int connectionReceiveBuffer() const noexcept override { return 4096; }

    // Appends the CRC to the reply in frame[0..length) and sends it; true
    // when all of it left.
    bool deliverReply(int slot, int length) override;

private:

    std::uint8_t frame[kRtuFrameCapacity] = {};
};

}  // namespace mbslave

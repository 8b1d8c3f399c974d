#include "ip/rtu_over_tcp_protocol.hpp"

#include "engine/crc16.hpp"

namespace mbslave {

RtuOverTcpProtocol::RtuOverTcpProtocol() noexcept {
    requestInfo.protocolType = MB_PROTOCOL_RTU_OVER_TCP;
    localPort = kDefaultRtuOverTcpPort;
}

bool RtuOverTcpProtocol::serveConnection(int slot) {
    const long received = connectionSockets[slot].receive(frame, sizeof frame);
    // Every read counts, a closed connection and a receive error included.
    ++totalCounter;
    if (received < kMinRtuOverTcpFrame) return false;
    const int length = static_cast<int>(received);
    if (!hasValidCrc16(frame, length)) return false;

    // Address 0 is an ordinary slave address here, one without data table
    // closes the connection; transactionId is left as it was.
    return serveRequest(frame, length - kCrcLength, connectionOrigin(slot, -1));
}

bool RtuOverTcpProtocol::deliverReply(int slot, int length) {
    const int total = appendCrc16(frame, length);
    return connectionSockets[slot].send(frame, static_cast<std::size_t>(total)) == total;
}

}  // namespace mbslave

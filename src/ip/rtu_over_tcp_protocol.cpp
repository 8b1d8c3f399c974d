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

    const int slaveAddress = frame[0];
    if (dataTable(slaveAddress) == nullptr) return false;
    if (!hasValidCrc16(frame, length)) return false;

    // Address 0 is an ordinary slave address here; transactionId is left
    // as it was.
    requestInfo.slaveAddress = slaveAddress;
    requestInfo.peerName = addressText(peerAddresses[slot]);
    const int replyLength = processRequest(frame, length - 2);
    const bool delivered = replyLength <= 0 || sendReply(slot, replyLength);
    recordRequest(slot, slaveAddress);
    return delivered;
}

bool RtuOverTcpProtocol::sendReply(int slot, int length) {
    const int total = appendCrc16(frame, length);
    return connectionSockets[slot].send(frame, static_cast<std::size_t>(total)) == total;
}

}  // namespace mbslave

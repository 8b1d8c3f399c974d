#include "ip/rtu_over_tcp_protocol.hpp"

#include "engine/rtu_frame_bytes.hpp"

namespace mbslave {

RtuOverTcpProtocol::RtuOverTcpProtocol() noexcept {
    requestInfo.protocolType = MB_PROTOCOL_RTU_OVER_TCP;
    localPort = kDefaultRtuOverTcpPort;
}

int RtuOverTcpProtocol::streamCapacity() const noexcept { return kRtuFrameCapacity; }

int RtuOverTcpProtocol::examineStream(int slot) noexcept {
    const StreamBuffer& stream = streams[slot];
    if (stream.count < kMinRtuOverTcpFrame) return kRequestIncomplete;
    const int length = rtuRequestLength(stream.bytes, stream.count, RtuLengthRules::byteStream);
    if (length == kRtuLengthUntold) return stream.count;
    if (length > kRtuFrameCapacity) return kStreamBroken;
    return length != kRtuLengthPending && stream.count >= length ? length : kRequestIncomplete;
}

bool RtuOverTcpProtocol::serveFrontRequest(int slot, int length) {
    takeFromStream(slot, frame, length);
    ++totalCounter;
    if (!hasValidCrc16(frame, length)) return false;
    // Address 0 is an ordinary slave address here, one without data table
    // closes the connection; transactionId is left as it was.
    const int reply = serveRequest(frame, length - kCrcLength, connectionOrigin(slot, -1));
    if (reply == kNotForThisServer) return false;
    return completeOnConnection(slot, frame, reply > 0 ? appendCrc16(frame, reply) : 0);
}

}  // namespace mbslave

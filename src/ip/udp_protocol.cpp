#include "ip/udp_protocol.hpp"

namespace mbslave {

UdpProtocol::UdpProtocol() noexcept { requestInfo.protocolType = MB_PROTOCOL_UDP; }

int UdpProtocol::openServerSocket(const char* hostName) {
    if (!serverSocket.openDatagram()) {
        shutdownServer();
        return MB_ERR_PORT_OPEN;
    }
    // No address reuse: on POSIX it would let a second server bind this
    // port and silently take its traffic.
    const int bound = bindLocalAddress(hostName);
    if (bound != MB_OK) return bound;
    if (!serverSocket.setNonBlocking()) {
        shutdownServer();
        return MB_ERR_PORT_OPEN;
    }
    serverSocket.setOption(platform::SocketOption::sendBuffer, kMbapFrameCapacity);
    // Room for a burst of requests from many masters while the application
    // is between two passes; the system may cap it.
    serverSocket.setOption(platform::SocketOption::receiveBuffer, kUdpReceiveBuffer);
    return MB_OK;
}

int UdpProtocol::requestLength(long size) const noexcept {
    // A datagram larger than the buffer was cut; its full size tells.
    if (size < mbap::kHeaderLength || size > kMbapFrameCapacity) return 0;
    const int length = mbap::requestLength(mbapBuffer, kMbapFrameCapacity);
    return length > 0 && size == length + mbap::kHeaderLength ? length : 0;
}

int UdpProtocol::servePass() {
    waitSet.clear();
    waitSet.add(serverSocket);
    switch (waitSet.wait(timeOut == 0 ? platform::SocketWaitSet::kWithoutLimit
                                      : static_cast<std::int32_t>(timeOut))) {
        case platform::SocketWaitSet::Result::ready: break;
        case platform::SocketWaitSet::Result::failed: return MB_ERR_IO;
        case platform::SocketWaitSet::Result::timedOut:
        case platform::SocketWaitSet::Result::interrupted: return MB_OK;
    }

    replyTo = platform::Ipv4Endpoint{};
    replyFrom = platform::kAnyAddress;
    const long size = serverSocket.receiveFrom(mbapBuffer, sizeof mbapBuffer, replyTo, replyFrom);
    const int length = requestLength(size);
    if (length == 0) return MB_OK;
    ++totalCounter;

    RequestOrigin origin;
    origin.peerName = addressText(replyTo);
    origin.transactionId = mbap::transactionId(mbapBuffer);
    const int reply = serveRequest(mbapBuffer + mbap::kHeaderLength, length, origin);
    if (reply == kNotForThisServer) return MB_OK;
    if (reply > 0) sendReply(reply);
    finishRequest();
    return MB_OK;
}

void UdpProtocol::sendReply(int replyLength) noexcept {
    const int total = mbap::encodeReply(mbapBuffer, replyLength);
    // From the address the request came to, which a master on a connected
    // socket expects. A datagram that cannot leave is lost like any other;
    // the master repeats its request.
    serverSocket.sendTo(mbapBuffer, static_cast<std::size_t>(total), replyTo, replyFrom);
}

}  // namespace mbslave

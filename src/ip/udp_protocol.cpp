#include "ip/udp_protocol.hpp"

#include "engine/wire_format.hpp"

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
    serverSocket.setOption(platform::SocketOption::receiveBuffer, kMbapFrameCapacity);
    return MB_OK;
}

int UdpProtocol::requestLength(long size) const noexcept {
    // A datagram larger than the buffer was cut; its full size tells.
    if (size < kMbapHeaderLength || size > kMbapFrameCapacity) return 0;
    const int length = wire::readU16(mbapBuffer + 4);
    if (size != length + kMbapHeaderLength) return 0;
    if (mbapBuffer[2] != 0 || mbapBuffer[3] != 0) return 0;
    return length;
}

int UdpProtocol::serverLoop() {
    const int preamble = serverLoopPreamble();
    if (preamble != MB_OK) return preamble;

    waitSet.clear();
    waitSet.add(serverSocket);
    switch (waitSet.wait(timeOut)) {
        case platform::SocketWaitSet::Result::ready: break;
        case platform::SocketWaitSet::Result::failed: return MB_ERR_IO;
        case platform::SocketWaitSet::Result::timedOut:
        case platform::SocketWaitSet::Result::interrupted: return MB_OK;
    }

    platform::Ipv4Endpoint source;
    std::uint32_t localAddress = platform::kAnyAddress;
    const long size = serverSocket.receiveFrom(mbapBuffer, sizeof mbapBuffer, source, localAddress);
    const int length = requestLength(size);
    if (length == 0) return MB_OK;
    ++totalCounter;

    std::uint8_t* frame = mbapBuffer + kMbapHeaderLength;
    const int slaveAddress = frame[0];
    if (dataTable(slaveAddress) == nullptr) return MB_OK;
    requestInfo.slaveAddress = slaveAddress;
    requestInfo.transactionId = wire::readU16(mbapBuffer);
    requestInfo.peerName = addressText(source);

    const int replyLength = processRequest(frame, length);
    if (replyLength > 0) {
        wire::writeU16(mbapBuffer + 2, 0);
        wire::writeU16(mbapBuffer + 4, static_cast<std::uint16_t>(replyLength));
        // From the address the request came to, which a master on a
        // connected socket expects. A datagram that cannot leave is lost
        // like any other; the master repeats its request.
        serverSocket.sendTo(mbapBuffer, static_cast<std::size_t>(kMbapHeaderLength + replyLength),
                            source, localAddress);
    }
    recordServedRequest(slaveAddress);
    if (requestCallback != nullptr) requestCallback(addressText(source));
    return MB_OK;
}

}  // namespace mbslave

#include "ip/tcp_protocol.hpp"

namespace mbslave {

namespace {

constexpr int kListenBacklog = 5;

}  // namespace

TcpProtocol::TcpProtocol() noexcept {
    const std::uint32_t start = now();
    for (Timer& timer : connectionTimers) timer = Timer(start);
    requestInfo.protocolType = MB_PROTOCOL_TCP;
}

int TcpProtocol::setConnectionTimeOut(std::uint32_t milliseconds) noexcept {
    if (isStarted()) return MB_ERR_ILLEGAL_STATE;
    if (milliseconds > kMaxConnectionTimeOut) return MB_ERR_ILLEGAL_ARGUMENT;
    connectionTimeOut = milliseconds;
    return MB_OK;
}

int TcpProtocol::connectionCount() const noexcept {
    int count = 0;
    for (const platform::Socket& connection : connectionSockets) count += connection.isValid();
    return count;
}

void TcpProtocol::shutdownServer() {
    for (platform::Socket& connection : connectionSockets) connection.close();
    IpProtocol::shutdownServer();
}

int TcpProtocol::openServerSocket(const char* hostName) {
    if (!serverSocket.openStream() || !serverSocket.setNonBlocking()) {
        shutdownServer();
        return MB_ERR_PORT_OPEN;
    }
    serverSocket.setOption(platform::SocketOption::reuseAddress, 1);
    const int bound = bindLocalAddress(hostName);
    if (bound != MB_OK) return bound;
    if (!serverSocket.listen(kListenBacklog)) {
        shutdownServer();
        return MB_ERR_LISTEN_FAILED;
    }
    return MB_OK;
}

int TcpProtocol::serverLoop() {
    const int preamble = serverLoopPreamble();
    if (preamble != MB_OK) return preamble;

    // Every open connection, and the listening socket while a slot is free.
    waitSet.clear();
    int waitEntry[kMaxConnections];
    int occupied = 0;
    for (int slot = 0; slot < kMaxConnections; ++slot) {
        waitEntry[slot] = -1;
        if (connectionSockets[slot].isValid()) {
            waitEntry[slot] = waitSet.add(connectionSockets[slot]);
            ++occupied;
        }
    }
    const int listenerEntry = occupied < kMaxConnections ? waitSet.add(serverSocket) : -1;

    // An interrupted wait reads nothing and accepts nothing, but the idle
    // checks still run.
    const platform::SocketWaitSet::Result waited = waitSet.wait(timeOut);
    if (waited == platform::SocketWaitSet::Result::failed) return MB_ERR_IO;
    const bool anyReady = waited == platform::SocketWaitSet::Result::ready;

    for (int slot = 0; slot < kMaxConnections; ++slot) {
        if (!connectionSockets[slot].isValid()) continue;
        if (anyReady && waitSet.isReadable(waitEntry[slot]) && !serveConnection(slot)) {
            closeConnection(slot);
        }
        if (connectionTimeOut > 0 && connectionSockets[slot].isValid() &&
            connectionTimers[slot].hasElapsed(now())) {
            closeConnection(slot);
        }
    }

    if (anyReady && waitSet.isReadable(listenerEntry)) acceptConnection();
    return MB_OK;
}

bool TcpProtocol::serveConnection(int slot) {
    platform::Socket& connection = connectionSockets[slot];
    // A closed connection, a receive error, a header cut short and a header
    // this server does not take all close the connection.
    if (connection.receive(mbapBuffer, mbap::kHeaderLength) != mbap::kHeaderLength) return false;
    const int length = mbap::requestLength(mbapBuffer, kMbapFrameCapacity);
    if (length <= 0) return false;
    ++totalCounter;
    std::uint8_t* frame = mbapBuffer + mbap::kHeaderLength;
    if (connection.receive(frame, static_cast<std::size_t>(length)) != length) return false;
    // A request for an address without data table closes the connection.
    return serveRequest(frame, length, connectionOrigin(slot, mbap::transactionId(mbapBuffer)));
}

RequestOrigin TcpProtocol::connectionOrigin(int slot, std::int32_t transactionId) noexcept {
    RequestOrigin origin;
    origin.peerName = addressText(peerAddresses[slot]);
    origin.transactionId = transactionId;
    origin.channel = slot;
    origin.idleTimer = &connectionTimers[slot];
    origin.idleTimeOut = connectionTimeOut;
    return origin;
}

bool TcpProtocol::deliverReply(int slot, int replyLength) {
    const long total = mbap::encodeReply(mbapBuffer, replyLength);
    // A reply that left only in part would leave the master's stream out of
    // step; the connection is closed after the bookkeeping.
    return connectionSockets[slot].send(mbapBuffer, static_cast<std::size_t>(total)) == total;
}

void TcpProtocol::closeConnection(int slot) {
    connectionSockets[slot].close();
    if (closeCallback != nullptr) closeCallback(addressText(peerAddresses[slot]));
}

int TcpProtocol::lowestFreeSlot() const noexcept {
    for (int slot = 0; slot < kMaxConnections; ++slot) {
        if (!connectionSockets[slot].isValid()) return slot;
    }
    return -1;
}

void TcpProtocol::acceptConnection() {
    const int slot = lowestFreeSlot();
    if (slot < 0) return;
    platform::Socket& connection = connectionSockets[slot];
    connection = serverSocket.accept(peerAddresses[slot]);
    if (!connection.isValid()) return;
    if (acceptCallback != nullptr && acceptCallback(addressText(peerAddresses[slot])) == 0) {
        connection.close();
        return;
    }
    connection.setOption(platform::SocketOption::noDelay, 1);
    connection.setOption(platform::SocketOption::receiveBuffer, connectionReceiveBuffer());
    connection.setOption(platform::SocketOption::keepAlive, 1);
    connectionTimers[slot].start(connectionTimeOut, now());
}

}  // namespace mbslave

#include "ip/tcp_protocol.hpp"

namespace mbslave {

namespace {

constexpr int kListenBacklog = 5;

std::uint16_t readBigEndian16(const std::uint8_t* bytes) noexcept {
    return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

void writeBigEndian16(std::uint8_t* bytes, int value) noexcept {
    bytes[0] = static_cast<std::uint8_t>(value >> 8);
    bytes[1] = static_cast<std::uint8_t>(value);
}

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
    return handleRequest(slot, readHeader(slot)) > 0;
}

int TcpProtocol::readHeader(int slot) {
    const long received = connectionSockets[slot].receive(mbapBuffer, kMbapHeaderLength);
    if (received <= 0) return static_cast<int>(received);
    if (received != kMbapHeaderLength) return -1;
    const int length = readBigEndian16(mbapBuffer + 4);
    if (length + kMbapHeaderLength > kMbapFrameCapacity) return -1;
    if (mbapBuffer[2] != 0 || mbapBuffer[3] != 0) return -1;
    return length;
}

int TcpProtocol::handleRequest(int slot, int length) {
    if (length <= 0) return length;
    ++totalCounter;
    std::uint8_t* frame = mbapBuffer + kMbapHeaderLength;
    const long received = connectionSockets[slot].receive(frame, static_cast<std::size_t>(length));
    if (received <= 0) return static_cast<int>(received);
    if (received != length) return -1;

    const int slaveAddress = frame[0];
    if (dataTable(slaveAddress) == nullptr) return 0;
    requestInfo.slaveAddress = slaveAddress;
    requestInfo.transactionId = readBigEndian16(mbapBuffer);
    requestInfo.peerName = addressText(peerAddresses[slot]);

    const int replyLength = processRequest(frame, length);
    bool delivered = true;
    if (replyLength > 0) {
        writeBigEndian16(mbapBuffer + 2, 0);
        writeBigEndian16(mbapBuffer + 4, replyLength);
        const long total = kMbapHeaderLength + replyLength;
        // A reply that left only in part would leave the master's stream
        // out of step; the connection is closed after the bookkeeping.
        delivered = connectionSockets[slot].send(mbapBuffer, static_cast<std::size_t>(total)) == total;
    }
    recordRequest(slot, slaveAddress);
    return delivered ? 1 : 0;
}

void TcpProtocol::recordRequest(int slot, int slaveAddress) {
    const std::uint32_t tick = now();
    connectionTimers[slot].start(connectionTimeOut, tick);
    recordServedRequest(slaveAddress);
    if (requestCallback != nullptr) requestCallback(addressText(peerAddresses[slot]));
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

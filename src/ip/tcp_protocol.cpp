#include "ip/tcp_protocol.hpp"

#include <cstring>

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
    for (int slot = 0; slot < kMaxConnections; ++slot) {
        if (!connectionSockets[slot].isValid()) continue;
        releaseConnection(slot);
        connectionSockets[slot].close();
    }
    for (StreamBuffer& stream : streams) stream = StreamBuffer{};
    IpProtocol::shutdownServer();
}

int TcpProtocol::openServerSocket(const char* hostName) {
    if (!serverSocket.openStream() || !serverSocket.setNonBlocking()) {
        shutdownServer();
        return MB_ERR_PORT_OPEN;
    }
    serverSocket.setOption(platform::SocketOption::reuseAddress, 1);
    // Accepted connections take the size over from the listener, so the
    // window they offer in the handshake already fits it; set after accept,
    // the kernel would drop segments sent for the larger default window.
    serverSocket.setOption(platform::SocketOption::receiveBuffer, connectionReceiveBuffer());
    const int bound = bindLocalAddress(hostName);
    if (bound != MB_OK) return bound;
    if (!serverSocket.listen(kListenBacklog)) {
        shutdownServer();
        return MB_ERR_LISTEN_FAILED;
    }
    return MB_OK;
}

int TcpProtocol::servePass() {
    // Every open connection, and the listening socket while a slot is free.
    // A stream whose front already decides (a whole request, or bytes that
    // close the connection) needs no wait.
    waitSet.clear();
    int waitEntry[kMaxConnections];
    int occupied = 0;
    bool decided = false;
    for (int slot = 0; slot < kMaxConnections; ++slot) {
        waitEntry[slot] = -1;
        if (connectionSockets[slot].isValid()) {
            waitEntry[slot] = waitSet.add(connectionSockets[slot]);
            ++occupied;
            decided = decided || streams[slot].frontLength != kRequestIncomplete || streams[slot].inputHeld;
        }
    }
    const int listenerEntry = occupied < kMaxConnections ? waitSet.add(serverSocket) : -1;

    // An interrupted wait reads nothing and accepts nothing, but requests
    // already whole are served and the time-outs still run.
    const platform::SocketWaitSet::Result waited = waitSet.wait(decided ? 0 : passWaitLimit());
    if (waited == platform::SocketWaitSet::Result::failed) return MB_ERR_IO;
    const bool anyReady = waited == platform::SocketWaitSet::Result::ready;

    for (int slot = 0; slot < kMaxConnections; ++slot) {
        if (!connectionSockets[slot].isValid()) continue;
        if (!serveSlot(slot, anyReady && waitSet.isReadable(waitEntry[slot]))) {
            closeConnection(slot);
        } else if (connectionTimeOut > 0 && connectionTimers[slot].hasElapsed(now())) {
            closeConnection(slot);
        }
    }

    if (anyReady && waitSet.isReadable(listenerEntry)) acceptConnection();
    return MB_OK;
}

bool TcpProtocol::serveSlot(int slot, bool readable) {
    StreamBuffer& stream = streams[slot];
    if (stream.frontLength == kRequestIncomplete && (readable || stream.inputHeld)) {
        if (!receiveIntoStream(slot)) {
            recordStreamEnd();
            return false;
        }
        stream.frontLength = examineStream(slot);
    }
    if (stream.frontLength == kStreamBroken) {
        recordStreamEnd();
        return false;
    }
    if (stream.frontLength > 0) {
        if (!serveFrontRequest(slot, stream.frontLength)) return false;
        stream.frontLength = examineStream(slot);
        return true;
    }
    // The rest of a started request is due within the protocol time-out.
    if (stream.count > 0 && timeOut > 0 && requestTimers[slot].hasElapsed(now())) {
        recordStreamEnd();
        return false;
    }
    return true;
}

bool TcpProtocol::receiveIntoStream(int slot) {
    StreamBuffer& stream = streams[slot];
    const long received = receiveFromConnection(
        slot, stream.bytes + stream.count, static_cast<std::size_t>(streamCapacity() - stream.count));
    if (received == kConnectionEnded) return false;
    if (received == kNothingReceived) return true;
    if (stream.count == 0) requestTimers[slot].start(timeOut, now());
    stream.count += static_cast<int>(received);
    return true;
}

long TcpProtocol::receiveFromConnection(int slot, std::uint8_t* into, std::size_t capacity) {
    const long received = connectionSockets[slot].receive(into, capacity);
    // A closed connection, a receive error (the socket was readable), and a
    // full stream without a request at its front (examineStream never
    // leaves one) all end it.
    return received > 0 ? received : kConnectionEnded;
}

bool TcpProtocol::sendOnConnection(int slot, const std::uint8_t* data, std::size_t length) {
    return connectionSockets[slot].send(data, length) == static_cast<long>(length);
}

int TcpProtocol::streamCapacity() const noexcept { return kMbapFrameCapacity; }

int TcpProtocol::examineStream(int slot) noexcept {
    StreamBuffer& stream = streams[slot];
    if (stream.count < mbap::kHeaderLength) return kRequestIncomplete;
    // A header this server does not take closes the connection at once.
    const int length = mbap::requestLength(stream.bytes, kMbapFrameCapacity);
    if (length <= 0) return kStreamBroken;
    if (!stream.headerCounted) {
        ++totalCounter;
        stream.headerCounted = true;
    }
    // So does a unit identifier without data table, once it is in.
    if (stream.count > mbap::kHeaderLength && dataTable(stream.bytes[mbap::kHeaderLength]) == nullptr) {
        return kStreamBroken;
    }
    const int whole = mbap::kHeaderLength + length;
    return stream.count >= whole ? whole : kRequestIncomplete;
}

bool TcpProtocol::serveFrontRequest(int slot, int length) {
    takeFromStream(slot, mbapBuffer, length);
    const int reply = serveRequest(mbapBuffer + mbap::kHeaderLength, length - mbap::kHeaderLength,
                                   connectionOrigin(slot, mbap::transactionId(mbapBuffer)));
    if (reply == kNotForThisServer) return false;
    return completeOnConnection(slot, mbapBuffer, reply > 0 ? mbap::encodeReply(mbapBuffer, reply) : 0);
}

bool TcpProtocol::completeOnConnection(int slot, const std::uint8_t* reply, int length) {
    // A reply that left only in part would leave the master's stream out of
    // step; the connection is closed after the bookkeeping.
    const bool sent = length == 0 || sendOnConnection(slot, reply, static_cast<std::size_t>(length));
    connectionTimers[slot].start(connectionTimeOut, now());
    finishRequest();
    return sent;
}

void TcpProtocol::takeFromStream(int slot, std::uint8_t* into, int length) noexcept {
    StreamBuffer& stream = streams[slot];
    std::memcpy(into, stream.bytes, static_cast<std::size_t>(length));
    stream.count -= length;
    stream.headerCounted = false;
    if (stream.count > 0) {
        std::memmove(stream.bytes, stream.bytes + length, static_cast<std::size_t>(stream.count));
        requestTimers[slot].start(timeOut, now());
    }
}

std::int32_t TcpProtocol::passWaitLimit() const noexcept {
    if (timeOut > 0) return static_cast<std::int32_t>(timeOut);
    if (connectionTimeOut == 0) return platform::SocketWaitSet::kWithoutLimit;
    const std::uint32_t tick = now();
    std::uint32_t earliest = connectionTimeOut;
    bool any = false;
    for (int slot = 0; slot < kMaxConnections; ++slot) {
        if (!connectionSockets[slot].isValid()) continue;
        const std::uint32_t left = connectionTimers[slot].remaining(tick);
        if (!any || left < earliest) earliest = left;
        any = true;
    }
    return any ? static_cast<std::int32_t>(earliest) : platform::SocketWaitSet::kWithoutLimit;
}

RequestOrigin TcpProtocol::connectionOrigin(int slot, std::int32_t transactionId) noexcept {
    RequestOrigin origin;
    origin.peerName = addressText(peerAddresses[slot]);
    origin.transactionId = transactionId;
    return origin;
}

void TcpProtocol::closeConnection(int slot) {
    releaseConnection(slot);
    connectionSockets[slot].close();
    streams[slot] = StreamBuffer{};
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
    connection.setKeepAlive(kKeepAliveIdleSeconds, kKeepAliveIntervalSeconds, kKeepAliveProbes);
    streams[slot] = StreamBuffer{};
    connectionTimers[slot].start(connectionTimeOut, now());
    if (!admitConnection(slot)) closeConnection(slot);
}

}  // namespace mbslave

// Modbus/TCP server: up to 32 masters at once, each connection read as a
// byte stream into its own buffer, requests framed with the MBAP header, at
// most one request per connection and pass, idle time-out and notifications
// of accepted and closed connections and served requests.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/timer.hpp"
#include "ip/ip_protocol.hpp"

namespace mbslave {

constexpr int kMaxConnections = 32;
// A pass waits for every connection and the listener at once.
static_assert(platform::SocketWaitSet::kCapacity >= kMaxConnections + 1, "the wait set holds every socket");
// Socket receive buffer of the connections: room for this many of the
// largest requests of the kind.
constexpr int kRequestsInReceiveBuffer = 16;
constexpr std::uint32_t kMaxConnectionTimeOut = 3600000;
// Keep-alive timing of accepted connections: a master that vanished without
// a word frees its slot about 90 s after its last traffic.
constexpr int kKeepAliveIdleSeconds = 60;
constexpr int kKeepAliveIntervalSeconds = 10;
constexpr int kKeepAliveProbes = 3;

// What the bytes at the front of a connection's stream hold.
constexpr int kRequestIncomplete = 0;  // a request that is not whole yet
constexpr int kStreamBroken = -1;      // bytes that cannot start a request

// What receiveFromConnection returns besides a byte count.
constexpr long kNothingReceived = 0;     // no bytes yet, the connection stays
constexpr long kConnectionEnded = -1;    // closed, reset or failed

// The bytes of one connection's stream that are not yet taken as requests.
struct StreamBuffer {
    std::uint8_t bytes[kMbapFrameCapacity] = {};
    int count = 0;
    // The MBAP header at the front has been counted (Modbus/TCP).
    bool headerCounted = false;
    // What the front holds: a whole request's length, kRequestIncomplete or
    // kStreamBroken, as last examined.
    int frontLength = kRequestIncomplete;
    // The transport holds bytes of this stream that no socket wait shows
    // (TLS: decrypted bytes not yet taken): the next pass reads without
    // waiting.
    bool inputHeld = false;
};

class TcpProtocol : public IpProtocol {
public:
    static constexpr ProtocolKinds kKinds = IpProtocol::kKinds | kind::kTcp;
    TcpProtocol() noexcept;

    // Closes every connection (without close notification), then the
    // listening socket.
    void shutdownServer() override;

    // MB_ERR_ILLEGAL_STATE while started; above one hour MB_ERR_ILLEGAL_ARGUMENT.
    int setConnectionTimeOut(std::uint32_t milliseconds) noexcept;
    std::uint32_t getConnectionTimeOut() const noexcept { return connectionTimeOut; }
    void setCloseCallback(MbCloseCallback callback) noexcept { closeCallback = callback; }

    int connectionCount() const noexcept;
    // Descriptor of a connection slot (-1 when free), for inspection.
    platform::NativeSocket connectionDescriptor(int slot) const noexcept { return connectionSockets[slot].descriptor(); }

protected:
    // Serves what the connections sent and accepts one master.
    int servePass() override;
    int openServerSocket(const char* hostName) override;

    // The framing of the kind. Examines the front of the slot's stream: the
    // length of the request there once it is whole, kRequestIncomplete, or
    // kStreamBroken (the connection closes). Called after every change of
    // the stream.
    virtual int examineStream(int slot) noexcept;
    // Serves the whole request of `length` bytes at the front of the slot's
    // stream and takes it from the stream; false closes the connection.
    virtual bool serveFrontRequest(int slot, int length);
    // The stream ended without a whole request at its front: the master
    // closed or reset, a started request did not arrive in time, or its
    // front cannot start a request.
    virtual void recordStreamEnd() noexcept {}
    // Bytes of a connection's stream the kind buffers (at most a StreamBuffer).
    virtual int streamCapacity() const noexcept;
    // Socket receive buffer size of the connections, set on the listener.
    int connectionReceiveBuffer() const noexcept { return kRequestsInReceiveBuffer * streamCapacity(); }

    // The transport of the connections, under the framing. Receives at most
    // `capacity` bytes of the slot's stream without waiting: the byte count,
    // kNothingReceived or kConnectionEnded. Called when the socket is
    // readable or the stream's inputHeld is set.
    virtual long receiveFromConnection(int slot, std::uint8_t* into, std::size_t capacity);
    // Sends all of `data` on the slot's connection; false when it did not
    // leave whole.
    virtual bool sendOnConnection(int slot, const std::uint8_t* data, std::size_t length);
    // A connection the accept callback kept, before its first read; false
    // closes it (with close notification).
    virtual bool admitConnection(int slot) {
        static_cast<void>(slot);
        return true;
    }
    // The slot's connection is about to be closed.
    virtual void releaseConnection(int slot) noexcept { static_cast<void>(slot); }
    // How long this pass may wait: the protocol time-out, or with time-out 0
    // until the earliest idle deadline (without limit when there is none).
    virtual std::int32_t passWaitLimit() const noexcept;

    // Moves the first `length` bytes of the slot's stream to `into`; the
    // bytes after them stay for the next request, whose time then starts.
    void takeFromStream(int slot, std::uint8_t* into, int length) noexcept;

    // A request of the slot's connection: its peer and the transaction
    // identifier (-1: keep).
    RequestOrigin connectionOrigin(int slot, std::int32_t transactionId) noexcept;
    // After serveRequest: sends reply[0..length) (the framed reply, none
    // when length is 0) on the slot's connection, restarts its idle timer
    // and completes the request. False when the reply did not leave whole.
    bool completeOnConnection(int slot, const std::uint8_t* reply, int length);
    // Closes the slot's connection and tells the application.
    void closeConnection(int slot);

    std::uint32_t connectionTimeOut = 0;
    platform::Socket connectionSockets[kMaxConnections];
    platform::Ipv4Endpoint peerAddresses[kMaxConnections];
    Timer connectionTimers[kMaxConnections];
    StreamBuffer streams[kMaxConnections];
    // Started with the protocol time-out when the first byte of a request
    // arrives.
    Timer requestTimers[kMaxConnections];
    MbCloseCallback closeCallback = nullptr;

private:
    void acceptConnection();
    int lowestFreeSlot() const noexcept;
    // Reads what the slot's connection has, as much as its stream takes;
    // false when the connection ended or failed.
    bool receiveIntoStream(int slot);
    // Runs the slot's part of a pass; false closes the connection.
    bool serveSlot(int slot, bool readable);
};

}  // namespace mbslave

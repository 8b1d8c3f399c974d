// Modbus/TCP server: up to 32 masters at once, requests framed with the MBAP
// header, one request per readable connection and pass, idle time-out and
// notifications of accepted and closed connections and served requests.
#pragma once

#include <cstdint>

#include "engine/timer.hpp"
#include "ip/ip_protocol.hpp"

namespace mbslave {

constexpr int kMaxConnections = 32;
constexpr std::uint32_t kMaxConnectionTimeOut = 3600000;

class TcpProtocol : public IpProtocol {
public:
    static constexpr ProtocolKinds kKinds = IpProtocol::kKinds | kind::kTcp;
    TcpProtocol() noexcept;

    int serverLoop() override;
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
    int openServerSocket(const char* hostName) override;

    // Serves one request of a readable connection; false when the
    // connection is to be closed.
    virtual bool serveConnection(int slot);
    // Receive buffer size given to accepted connections.
    virtual int connectionReceiveBuffer() const noexcept { return 4160; }
    // Sends the MBAP-framed reply on the slot's connection.
    bool deliverReply(int slot, int replyLength) override;

    // A request of the slot's connection: its peer, the transaction
    // identifier (-1: keep), the slot, and its idle timer.
    RequestOrigin connectionOrigin(int slot, std::int32_t transactionId) noexcept;
    // Closes the slot's connection and tells the application.
    void closeConnection(int slot);

    std::uint32_t connectionTimeOut = 0;
    platform::Socket connectionSockets[kMaxConnections];
    platform::Ipv4Endpoint peerAddresses[kMaxConnections];
    Timer connectionTimers[kMaxConnections];
    MbCloseCallback closeCallback = nullptr;

private:
    void acceptConnection();
    int lowestFreeSlot() const noexcept;
};

}  // namespace mbslave

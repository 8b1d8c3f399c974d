// Common base of the servers that work over IP (Modbus/TCP, RTU over TCP,
// UDP): the local port, the server socket, the notification callbacks, the
// MBAP message buffer, local address resolution and the bind report.
#pragma once

#include <cstdint>

#include "engine/slave_protocol.hpp"
#include "engine/wire_format.hpp"
#include "mbslave.h"
#include "platform/socket.hpp"

namespace mbslave {

// The MBAP header that frames Modbus requests and replies on TCP and in UDP
// datagrams: transaction identifier, protocol identifier (0), length of what
// follows (unit identifier and PDU), all big-endian.
namespace mbap {

constexpr int kHeaderLength = 6;
constexpr int kTransactionIdOffset = 0;
constexpr int kProtocolIdOffset = 2;
constexpr int kLengthOffset = 4;

// The request length (unit identifier and PDU, possibly 0) a received
// header announces; -1 for a header this server does not take: another
// protocol than Modbus, or a header and request beyond frameCapacity bytes.
inline int requestLength(const std::uint8_t* header, int frameCapacity) noexcept {
    const int length = wire::readU16(header + kLengthOffset);
    if (length + kHeaderLength > frameCapacity) return -1;
    if (wire::readU16(header + kProtocolIdOffset) != 0) return -1;
    return length;
}

inline std::uint16_t transactionId(const std::uint8_t* header) noexcept {
    return wire::readU16(header + kTransactionIdOffset);
}

// Turns the request's header into the header of a reply of replyLength
// bytes (the transaction identifier stays); the length of header and reply.
inline int encodeReply(std::uint8_t* header, int replyLength) noexcept {
    wire::writeU16(header + kProtocolIdOffset, 0);
    wire::writeU16(header + kLengthOffset, static_cast<std::uint16_t>(replyLength));
    return kHeaderLength + replyLength;
}

}  // namespace mbap

namespace kind {
// kTls: Modbus/TCP inside TLS, the TLS library's kind.
constexpr ProtocolKinds kIp = 8, kTcp = 16, kRtuOverTcp = 32, kUdp = 64, kTls = 128;
constexpr ProtocolKinds kIpFamily = kIp | kTcp | kRtuOverTcp | kUdp | kTls;
}  // namespace kind

constexpr std::uint16_t kDefaultIpPort = 502;
// MBAP header plus unit identifier and PDU.
constexpr int kMbapFrameCapacity = mbap::kHeaderLength + kMaxFrameLength;

class IpProtocol : public SlaveProtocol {
public:
    static constexpr ProtocolKinds kKinds = kind::kIp;
    IpProtocol() noexcept = default;
    ~IpProtocol() override;

    // Closes the server socket; the master activity ends at once.
    void shutdownServer() override;

    // Starts the server on the address of hostName; null or empty binds to
    // every local address. A started server is refused (MB_ERR_ILLEGAL_STATE)
    // and left untouched; without the system's socket library
    // MB_ERR_SOCKET_LIBRARY. Every failure leaves the server not started.
    int startupServer(const char* hostName);
    // Every local address; the serial start-up of the C interface ends here.
    int startupServer() override { return startupServer(nullptr); }

    // MB_ERR_ILLEGAL_STATE while started; any port is accepted, 0 included.
    int setPort(std::uint16_t port) noexcept;
    std::uint16_t getPort() const noexcept { return localPort; }
    // The port the running server is bound to (the chosen one after port 0);
    // 0 when not started.
    std::uint16_t boundPort() const noexcept;

    // Failures to inject into this server's socket operations (tests; null:
    // none). Connections accepted later take them over.
    void setSocketFaults(platform::SocketFaults* faults) noexcept {
        socketFaults = faults;
        serverSocket.setFaults(faults);
        waitSet.setFaults(faults);
    }

    void setAcceptCallback(MbAcceptCallback callback) noexcept { acceptCallback = callback; }

protected:
    // The kind's own start-up steps, run on a server that is not started.
    virtual int openServerSocket(const char* hostName) = 0;

    // Binds serverSocket to hostName (null or empty: every local address) and
    // localPort. On failure shuts the server down and returns
    // MB_ERR_TCPIP_CONNECTION for an unknown host or the bind's error.
    int bindLocalAddress(const char* hostName);

    // Dotted-decimal text of an address, in this object's buffer; valid
    // until the next call.
    const char* addressText(const platform::Ipv4Endpoint& endpoint) noexcept {
        return peerText.format(endpoint);
    }

    // First member: the socket library outlives every socket of the object.
    platform::SocketLibrary socketLibrary;
    platform::SocketFaults* socketFaults = nullptr;
    std::uint16_t localPort = kDefaultIpPort;
    platform::Socket serverSocket;
    MbAcceptCallback acceptCallback = nullptr;
    std::uint8_t mbapBuffer[kMbapFrameCapacity] = {};
    platform::SocketWaitSet waitSet;

private:
    platform::AddressText peerText;
};

}  // namespace mbslave

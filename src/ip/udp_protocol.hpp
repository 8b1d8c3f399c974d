// Modbus requests in UDP datagrams: each datagram holds one MBAP-framed
// request and is answered with one datagram to its source address and port.
// No connections: one datagram per pass, malformed ones dropped silently.
#pragma once

#include "ip/ip_protocol.hpp"

namespace mbslave {

// Socket receive buffer asked for: a burst of 10 requests from each of 32
// masters (Linux charges about 830 bytes of buffer per small datagram).
constexpr int kUdpReceiveBuffer = 256 * 1024;

class UdpProtocol : public IpProtocol {
public:
    static constexpr ProtocolKinds kKinds = IpProtocol::kKinds | kind::kUdp;
    UdpProtocol() noexcept;

    // Descriptor of the datagram socket (-1 when not started), for inspection.
    platform::NativeSocket serverDescriptor() const noexcept { return serverSocket.descriptor(); }

protected:
    // Datagram socket: bind (without address reuse), non-blocking, a
    // 260-byte send buffer and a receive buffer for bursts.
    int openServerSocket(const char* hostName) override;
    // One datagram, one request; malformed datagrams are dropped.
    int servePass() override;

private:
    // Sends the reply datagram to the request's source, from the address
    // the request came to.
    void sendReply(int replyLength) noexcept;
    // The request length of a well-formed request datagram of `size` bytes
    // in mbapBuffer, 0 for one to drop.
    int requestLength(long size) const noexcept;

    // Source of the datagram being served and the local address it came to.
    platform::Ipv4Endpoint replyTo{};
    std::uint32_t replyFrom = platform::kAnyAddress;
};

}  // namespace mbslave

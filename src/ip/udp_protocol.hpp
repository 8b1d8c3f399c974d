// Modbus requests in UDP datagrams: each datagram holds one MBAP-framed
// request and is answered with one datagram to its source address and port.
// No connections: one datagram per pass, malformed ones dropped silently.
#pragma once

#include "ip/ip_protocol.hpp"

namespace mbslave {

class UdpProtocol : public IpProtocol {
public:
    static constexpr ProtocolKinds kKinds = IpProtocol::kKinds | kind::kUdp;
    UdpProtocol() noexcept;

    int serverLoop() override;
    // Descriptor of the datagram socket (-1 when not started), for inspection.
    platform::NativeSocket serverDescriptor() const noexcept { return serverSocket.descriptor(); }

protected:
    // Datagram socket: bind (without address reuse), non-blocking, 260-byte
    // buffers.
    int openServerSocket(const char* hostName) override;

private:
    // The request length of a well-formed request datagram of `size` bytes
    // in mbapBuffer, 0 for one to drop.
    int requestLength(long size) const noexcept;
};

}  // namespace mbslave

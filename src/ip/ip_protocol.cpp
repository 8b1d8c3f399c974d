#include "ip/ip_protocol.hpp"

namespace mbslave {

IpProtocol::~IpProtocol() { IpProtocol::shutdownServer(); }

void IpProtocol::shutdownServer() {
    serverSocket.close();
    clearActivity();
}

int IpProtocol::startupServer(const char* hostName) {
    if (isStarted()) return MB_ERR_ILLEGAL_STATE;
    return openServerSocket(hostName);
}

int IpProtocol::setPort(std::uint16_t port) noexcept {
    if (isStarted()) return MB_ERR_ILLEGAL_STATE;
    localPort = port;
    return MB_OK;
}

std::uint16_t IpProtocol::boundPort() const noexcept {
    return isStarted() ? serverSocket.localPort() : 0;
}

int IpProtocol::bindLocalAddress(const char* hostName) {
    platform::Ipv4Endpoint local{platform::kAnyAddress, localPort};
    if (hostName != nullptr && hostName[0] != '\0' &&
        !platform::resolveIpv4(hostName, local.address)) {
        shutdownServer();
        return MB_ERR_TCPIP_CONNECTION;
    }
    const int result = serverSocket.bind(local);
    if (result != MB_OK) shutdownServer();
    return result;
}

}  // namespace mbslave

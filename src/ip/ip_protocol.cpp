#include "ip/ip_protocol.hpp"

namespace mbslave {

namespace {

int bindFailure(platform::BindResult result) noexcept {
    switch (result) {
        case platform::BindResult::ok: return MB_OK;
        case platform::BindResult::noPermission: return MB_ERR_NO_PERMISSION;
        case platform::BindResult::addressInUse: return MB_ERR_TCP_PORT_BOUND;
        case platform::BindResult::addressUnavailable: break;
    }
    return MB_ERR_TCP_PORT_NOT_AVAILABLE;
}

}  // namespace

IpProtocol::~IpProtocol() { IpProtocol::shutdownServer(); }

void IpProtocol::shutdownServer() {
    serverSocket.close();
    markStarted(false);
    clearActivity();
}

int IpProtocol::startupServer(const char* hostName) {
    if (isStarted()) return MB_ERR_ILLEGAL_STATE;
    if (!socketLibrary.start(socketFaults)) return MB_ERR_SOCKET_LIBRARY;
    const int result = openServerSocket(hostName);
    markStarted(result == MB_OK);
    return result;
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
    const int result = bindFailure(serverSocket.bind(local));
    if (result != MB_OK) shutdownServer();
    return result;
}

}  // namespace mbslave

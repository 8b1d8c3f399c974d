// Exported functions of the IP handles (Modbus/TCP, RTU over TCP, UDP).
// A handle of another kind is refused without being touched.
#include "api/protocol_handle.hpp"
#include "ip/ip_protocol.hpp"
#include "ip/rtu_over_tcp_protocol.hpp"
#include "ip/tcp_protocol.hpp"
#include "ip/udp_protocol.hpp"

using mbslave::forward;
using mbslave::IpProtocol;
using mbslave::protocolAs;
using mbslave::RtuOverTcpProtocol;
using mbslave::TcpProtocol;
using mbslave::UdpProtocol;

extern "C" {

MBSLAVE_API MbusSlaveHandle* mbusSlave_createTcpProtocol(void) {
    return mbslave::toOpaque(mbslave::createHandle<TcpProtocol>());
}

MBSLAVE_API MbusSlaveHandle* mbusSlave_createRtuOverTcpProtocol(void) {
    return mbslave::toOpaque(mbslave::createHandle<RtuOverTcpProtocol>());
}

MBSLAVE_API MbusSlaveHandle* mbusSlave_createUdpProtocol(void) {
    return mbslave::toOpaque(mbslave::createHandle<UdpProtocol>());
}

MBSLAVE_API int mbusSlave_startupIpServer(MbusSlaveHandle* handle, const char* hostName) {
    IpProtocol* protocol = protocolAs<IpProtocol>(handle);
    return protocol == nullptr ? MB_ERR_ILLEGAL_STATE : protocol->startupServer(hostName);
}

MBSLAVE_API int mbusSlave_setPort(MbusSlaveHandle* handle, uint16_t port) {
    return forward<IpProtocol>(handle, int{MB_ERR_ILLEGAL_STATE}, &IpProtocol::setPort, port);
}

MBSLAVE_API uint16_t mbusSlave_getPort(MbusSlaveHandle* handle) {
    return forward<IpProtocol>(handle, uint16_t{0}, &IpProtocol::getPort);
}

MBSLAVE_API int mbusSlave_setConnectionTimeOut(MbusSlaveHandle* handle, uint32_t timeOut) {
    return forward<TcpProtocol>(handle, int{MB_ERR_ILLEGAL_STATE}, &TcpProtocol::setConnectionTimeOut, timeOut);
}

MBSLAVE_API uint32_t mbusSlave_getConnectionTimeOut(MbusSlaveHandle* handle) {
    return forward<TcpProtocol>(handle, uint32_t{0}, &TcpProtocol::getConnectionTimeOut);
}

MBSLAVE_API void mbusSlave_configureTcpNotifications(MbusSlaveHandle* handle,
                                                     MbAcceptCallback acceptCallback,
                                                     MbCloseCallback closeCallback,
                                                     MbRequestCallback requestCallback) {
    TcpProtocol* protocol = protocolAs<TcpProtocol>(handle);
    if (protocol == nullptr) return;
    protocol->setAcceptCallback(acceptCallback);
    protocol->setCloseCallback(closeCallback);
    protocol->setRequestCallback(requestCallback);
}

MBSLAVE_API void mbusSlave_configureUdpNotifications(MbusSlaveHandle* handle,
                                                     MbRequestCallback requestCallback) {
    if (IpProtocol* protocol = protocolAs<IpProtocol>(handle)) {
        protocol->setRequestCallback(requestCallback);
    }
}

}  // extern "C"

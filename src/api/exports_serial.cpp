// Exported functions of the serial handles (RTU, ASCII).
#include "api/protocol_handle.hpp"
#include "serial/ascii_protocol.hpp"
#include "serial/rtu_protocol.hpp"
#include "serial/serial_protocol.hpp"

using mbslave::AsciiProtocol;
using mbslave::protocolAs;
using mbslave::protocolOf;
using mbslave::RtuProtocol;
using mbslave::SerialProtocol;
using mbslave::SlaveProtocol;

extern "C" {

MBSLAVE_API int mbusSlave_startupSerialServer(MbusSlaveHandle* handle, const MbWideChar* portName,
                                              int baudRate, int dataBits, int stopBits,
                                              int parity) {
    SlaveProtocol* protocol = protocolOf(handle);
    if (protocol == nullptr) return MB_ERR_ILLEGAL_STATE;
    if (auto* serial = protocolAs<SerialProtocol>(handle)) {
        return serial->startupSerialServer(portName, baudRate, dataBits, stopBits, parity);
    }
    // Another kind: an IP server starts on every local address and the
    // serial arguments are not used.
    return protocol->startupServer();
}

MBSLAVE_API int mbusSlave_enableRs485Mode(MbusSlaveHandle* handle, uint32_t delay) {
    SerialProtocol* serial = protocolAs<SerialProtocol>(handle);
    return serial == nullptr ? MB_ERR_ILLEGAL_STATE : serial->enableRs485Mode(delay);
}

MBSLAVE_API MbusSlaveHandle* mbusSlave_createRtuProtocol(void) {
    return mbslave::toOpaque(mbslave::createHandle<RtuProtocol>());
}

MBSLAVE_API int mbusSlave_setFrameTolerance(MbusSlaveHandle* handle, uint32_t milliseconds) {
    RtuProtocol* rtu = protocolAs<RtuProtocol>(handle);
    return rtu == nullptr ? MB_ERR_ILLEGAL_STATE : rtu->setFrameTolerance(milliseconds);
}

MBSLAVE_API MbusSlaveHandle* mbusSlave_createAsciiProtocol(void) {
    return mbslave::toOpaque(mbslave::createHandle<AsciiProtocol>());
}

}  // extern "C"

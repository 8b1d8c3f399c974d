// Exported functions shared by every kind of handle: a null check, then
// forwarding to the protocol object.
#include "api/protocol_handle.hpp"

using mbslave::forward;
using mbslave::protocolOf;
using mbslave::SlaveProtocol;

extern "C" {

MBSLAVE_API void mbusSlave_destroyProtocol(MbusSlaveHandle* handle) {
    delete mbslave::liveHandle(handle);
}

MBSLAVE_API int mbusSlave_configureCallbacks(
    MbusSlaveHandle* handle, int slaveAddress,
    MbReadHoldingRegistersCallback readHoldingRegisters,
    MbWriteHoldingRegistersCallback writeHoldingRegisters,
    MbReadInputRegistersCallback readInputRegisters, MbReadCoilsCallback readCoils,
    MbWriteCoilsCallback writeCoils, MbReadInputDiscretesCallback readInputDiscretes,
    MbReadRegisters32Callback readRegisters32, MbWriteRegisters32Callback writeRegisters32,
    MbReadExceptionStatusCallback readExceptionStatus, MbSignalTimeOutCallback signalTimeOut,
    MbReadFileRecordCallback readFileRecord, MbWriteFileRecordCallback writeFileRecord,
    MbReportSlaveIdCallback reportSlaveId, MbRunIndicatorStatusCallback runIndicatorStatus,
    MbReadDeviceIdObjectCallback readDeviceIdObject) {
    mbslave::ProtocolHandle* inner = mbslave::liveHandle(handle);
    if (inner == nullptr) return MB_ERR_ILLEGAL_STATE;
    const mbslave::Callbacks callbacks{
        readHoldingRegisters, writeHoldingRegisters, readInputRegisters, readCoils,
        writeCoils,           readInputDiscretes,    readRegisters32,    writeRegisters32,
        readExceptionStatus,  signalTimeOut,         readFileRecord,     writeFileRecord,
        reportSlaveId,        runIndicatorStatus,    readDeviceIdObject};
    return mbslave::configureCallbacks(*inner, slaveAddress, callbacks);
}

MBSLAVE_API int mbusSlave_serverLoop(MbusSlaveHandle* handle) {
    return forward<SlaveProtocol>(handle, int{MB_ERR_ILLEGAL_STATE}, &SlaveProtocol::serverLoop);
}

MBSLAVE_API void mbusSlave_shutdownServer(MbusSlaveHandle* handle) {
    if (SlaveProtocol* protocol = protocolOf(handle)) protocol->shutdownServer();
}

MBSLAVE_API int mbusSlave_isStarted(MbusSlaveHandle* handle) {
    SlaveProtocol* protocol = protocolOf(handle);
    return protocol != nullptr && protocol->isStarted() ? 1 : 0;
}

MBSLAVE_API int mbusSlave_getConnectionStatus(MbusSlaveHandle* handle) {
    return forward<SlaveProtocol>(handle, int{0}, &SlaveProtocol::getConnectionStatus);
}

MBSLAVE_API int mbusSlave_setTimeout(MbusSlaveHandle* handle, uint32_t timeOut) {
    return forward<SlaveProtocol>(handle, int{MB_ERR_ILLEGAL_STATE}, &SlaveProtocol::setTimeout, timeOut);
}

MBSLAVE_API uint32_t mbusSlave_getTimeout(MbusSlaveHandle* handle) {
    return forward<SlaveProtocol>(handle, uint32_t{0}, &SlaveProtocol::getTimeout);
}

MBSLAVE_API void mbusSlave_enableExceptionReplies(MbusSlaveHandle* handle) {
    if (SlaveProtocol* protocol = protocolOf(handle)) protocol->enableExceptionReplies();
}

MBSLAVE_API void mbusSlave_disableExceptionReplies(MbusSlaveHandle* handle) {
    if (SlaveProtocol* protocol = protocolOf(handle)) protocol->disableExceptionReplies();
}

MBSLAVE_API uint32_t mbusSlave_getSuccessCounter(MbusSlaveHandle* handle) {
    return forward<SlaveProtocol>(handle, uint32_t{0}, &SlaveProtocol::getSuccessCounter);
}

MBSLAVE_API void mbusSlave_resetSuccessCounter(MbusSlaveHandle* handle) {
    if (SlaveProtocol* protocol = protocolOf(handle)) protocol->resetSuccessCounter();
}

MBSLAVE_API uint32_t mbusSlave_getTotalCounter(MbusSlaveHandle* handle) {
    return forward<SlaveProtocol>(handle, uint32_t{0}, &SlaveProtocol::getTotalCounter);
}

MBSLAVE_API void mbusSlave_resetTotalCounter(MbusSlaveHandle* handle) {
    if (SlaveProtocol* protocol = protocolOf(handle)) protocol->resetTotalCounter();
}

}  // extern "C"

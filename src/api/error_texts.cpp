// Error texts and the package version: constant UTF-16 texts with static
// lifetime, so the pointers stay valid for the life of the process.
#include "api/error_texts.hpp"

namespace {

using mbslave::ErrorTextEntry;

// Searched linearly up to the end marker, whose code is never compared.
constexpr ErrorTextEntry kErrorTexts[] = {
    {MB_OK, u"Operation was successful"},
    {MB_ERR_ILLEGAL_ARGUMENT, u"Illegal argument error"},
    {MB_ERR_ILLEGAL_STATE, u"Illegal state error"},
    {MB_ERR_NO_DATA_TABLE, u"No data table configured"},
    {MB_ERR_SLAVE_ADDRESS_ZERO, u"Slave address 0 is illegal in this context"},
    {MB_ERR_IO_CLASS, u"I/O error class"},
    {MB_ERR_IO, u"I/O error"},
    {MB_ERR_PORT_OPEN, u"Port or socket open error"},
    {MB_ERR_SERIAL_PORT_ALREADY_OPEN, u"Serial port already open"},
    {MB_ERR_TCPIP_CONNECTION, u"TCP/IP connection error"},
    {MB_ERR_CLOSED_BY_PEER, u"TCP/IP connection was closed by remote peer"},
    {MB_ERR_SOCKET_LIBRARY, u"Socket library error"},
    {MB_ERR_TCP_PORT_BOUND, u"TCP Port alread bound"},
    {MB_ERR_LISTEN_FAILED, u"Listen failed"},
    {MB_ERR_DESCRIPTORS_EXCEEDED, u"File descriptors exceeded"},
    {MB_ERR_NO_PERMISSION, u"No permission to access serial or TCP port"},
    {MB_ERR_TCP_PORT_NOT_AVAILABLE, u"TCP Port not available"},
    {MB_ERR_PROTOCOL_CLASS, u"Fieldbus protocol error class"},
    {MB_ERR_CHECKSUM, u"Checksum error"},
    {MB_ERR_INVALID_FRAME, u"Invalid frame error"},
    {MB_ERR_INVALID_REPLY, u"Invalid reply error"},
    {MB_ERR_REPLY_TIMEOUT, u"Reply time-out"},
    {MB_ERR_SEND_TIMEOUT, u"Send time-out"},
    {MB_ERR_INVALID_MPAB_ID, u"Invalid MPAB identifier"},
    {MB_ERR_SERIAL_LINE, u"Serial line error"},
    {MB_ERR_EXCEPTION_CLASS, u"Modbus exception response"},
    {MB_ERR_EXC_ILLEGAL_FUNCTION, u"Illegal Function exception response"},
    {MB_ERR_EXC_ILLEGAL_DATA_ADDRESS, u"Illegal Data Address exception response"},
    {MB_ERR_EXC_ILLEGAL_DATA_VALUE, u"Illegal Data Value exception response"},
    {MB_ERR_EXC_SLAVE_DEVICE_FAILURE, u"Slave Device Failure exception response"},
    {MB_ERR_EXC_GATEWAY_PATH_UNAVAILABLE, u"Gateway Path Unavailable exception response"},
    {MB_ERR_EXC_GATEWAY_TARGET_FAILED, u"Gateway Target Device Failed exception response"},
    {-1, nullptr},
};

constexpr const char16_t* kPackageVersion = u"2.11.0.0";

}  // namespace

namespace mbslave {

const char16_t* findErrorText(const ErrorTextEntry* table, int errorCode) noexcept {
    for (const ErrorTextEntry* entry = table; entry->text != nullptr; ++entry) {
        if (entry->code == errorCode) return entry->text;
    }
    return nullptr;
}

const char16_t* errorTextOf(int errorCode) noexcept { return findErrorText(kErrorTexts, errorCode); }

}  // namespace mbslave

extern "C" {

MBSLAVE_API const MbWideChar* mbusSlave_getPackageVersion(void) { return mbslave::asWideText(kPackageVersion); }

}  // extern "C"

#include "api/protocol_handle.hpp"

#include "ip/ip_protocol.hpp"
#include "serial/serial_protocol.hpp"

namespace mbslave {

// The handle tells the kinds apart by their bits: no two families may share one.
static_assert((kind::kSerialFamily & kind::kIpFamily) == 0, "serial and IP kinds share a bit");

namespace {

int configureOne(ProtocolHandle& handle, int slaveAddress, const Callbacks& callbacks) noexcept {
    CallbackDataTable& table = handle.callbackTable(slaveAddress);
    const int result = handle.protocol->setDataTable(slaveAddress, &table);
    if (result != MB_OK) return result;
    table.setCallbacks(callbacks);
    return MB_OK;
}

}  // namespace

int configureCallbacks(ProtocolHandle& handle, int slaveAddress, const Callbacks& callbacks) noexcept {
    if (slaveAddress >= 0 && slaveAddress < kSlaveAddressCount) {
        return configureOne(handle, slaveAddress, callbacks);
    }
    if (slaveAddress != -1) return MB_ERR_ILLEGAL_ARGUMENT;
    for (int address = 0; address < kSlaveAddressCount; ++address) {
        const int result = configureOne(handle, address, callbacks);
        if (result != MB_OK) return result;
    }
    return MB_OK;
}

}  // namespace mbslave

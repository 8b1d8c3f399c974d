// The object behind the opaque handle: one protocol object and the 256
// callback tables that serve its slave addresses.
#pragma once

#include <memory>
#include <new>

#include "engine/callback_data_table.hpp"
#include "engine/slave_protocol.hpp"
#include "mbslave.h"

namespace mbslave {

class ProtocolHandle {
public:
    ProtocolHandle() = default;
    ProtocolHandle(const ProtocolHandle&) = delete;
    ProtocolHandle& operator=(const ProtocolHandle&) = delete;
    // The protocol object goes first, so that nothing can reach a callback
    // table after it is gone.
    virtual ~ProtocolHandle() { protocol.reset(); }

    std::unique_ptr<SlaveProtocol> protocol;
    CallbackDataTable callbackTables[kSlaveAddressCount];
};

// Makes a handle around a new protocol object of the given kind; null when
// memory is exhausted, with nothing left allocated.
template <typename Protocol>
ProtocolHandle* createHandle() noexcept {
    auto* handle = new (std::nothrow) ProtocolHandle;
    if (handle == nullptr) return nullptr;
    handle->protocol.reset(new (std::nothrow) Protocol);
    if (handle->protocol == nullptr) {
        delete handle;
        return nullptr;
    }
    return handle;
}

inline ProtocolHandle* toHandle(MbusSlaveHandle* handle) noexcept {
    return reinterpret_cast<ProtocolHandle*>(handle);
}

inline MbusSlaveHandle* toOpaque(ProtocolHandle* handle) noexcept {
    return reinterpret_cast<MbusSlaveHandle*>(handle);
}

// The protocol object behind an opaque handle; null for a null handle.
inline SlaveProtocol* protocolOf(MbusSlaveHandle* handle) noexcept {
    return handle == nullptr ? nullptr : toHandle(handle)->protocol.get();
}

// The protocol object behind an opaque handle if it is of the given family
// (SerialProtocol, IpProtocol, TcpProtocol, ...); null for a null handle or
// a handle of another kind, which kind-specific functions refuse.
template <typename Protocol>
Protocol* protocolAs(MbusSlaveHandle* handle) noexcept {
    return dynamic_cast<Protocol*>(protocolOf(handle));
}

// Installs the callbacks for one slave address (0..255) or all (-1).
int configureCallbacks(ProtocolHandle& handle, int slaveAddress, const Callbacks& callbacks) noexcept;

}  // namespace mbslave

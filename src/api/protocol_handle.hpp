// The object behind the opaque handle: one protocol object and room for the
// 256 callback tables that serve its slave addresses.
#pragma once

#include <cstdint>
#include <memory>
#include <new>

#include "engine/callback_data_table.hpp"
#include "base/heap_object.hpp"
#include "engine/slave_protocol.hpp"
#include "mbslave.h"

namespace mbslave {

class ProtocolHandle : public HeapObject {
public:
    // Marks a live handle. Destruction clears it, so that a handle passed
    // again after destruction is refused as far as its memory still shows
    // it, and so is a pointer to memory that never was a handle.
    static constexpr std::uint32_t kLiveMark = 0x4D42534Cu;

    explicit ProtocolHandle(ProtocolKinds protocolKinds) noexcept : kinds(protocolKinds) {}
    ProtocolHandle(const ProtocolHandle&) = delete;
    ProtocolHandle& operator=(const ProtocolHandle&) = delete;
    // The protocol object goes first, so that nothing can reach a callback
    // table after it is gone. The mark is cleared through a volatile store:
    // a plain store to an object whose lifetime ends may be left out.
    ~ProtocolHandle() {
        protocol.reset();
        for (int address = 0; address < kSlaveAddressCount; ++address) {
            if (CallbackDataTable* table = configuredTable(address)) table->~CallbackDataTable();
        }
        *static_cast<volatile std::uint32_t*>(&liveMark) = 0;
    }

    bool isLive() const noexcept { return liveMark == kLiveMark; }
    // Whether the protocol object is of the given class or derived from it.
    bool isKindOf(ProtocolKinds classKinds) const noexcept {
        return (kinds & classKinds) == classKinds;
    }

    // The callback table of a slave address (0..255), made in its room at
    // the first call.
    CallbackDataTable& callbackTable(int slaveAddress) noexcept {
        if (!tableMade[slaveAddress]) {
            ::new (tableRoom[slaveAddress]) CallbackDataTable;
            tableMade[slaveAddress] = true;
        }
        return *configuredTable(slaveAddress);
    }
    // The callback table of a slave address; null before its first call.
    CallbackDataTable* configuredTable(int slaveAddress) noexcept {
        if (!tableMade[slaveAddress]) return nullptr;
        return std::launder(reinterpret_cast<CallbackDataTable*>(tableRoom[slaveAddress]));
    }

    std::uint32_t liveMark = kLiveMark;
    const ProtocolKinds kinds;
    std::unique_ptr<SlaveProtocol> protocol;

private:
    // Tables are made only for configured addresses: the room of the others
    // (most of 34 KiB) is never written, so its pages never become resident.
    bool tableMade[kSlaveAddressCount] = {};
    alignas(CallbackDataTable) unsigned char tableRoom[kSlaveAddressCount][sizeof(CallbackDataTable)];
};

// Makes a handle around a new protocol object of the given kind; null when
// memory is exhausted, with nothing left allocated.
template <typename Protocol>
ProtocolHandle* createHandle() noexcept {
    auto* handle = new ProtocolHandle(Protocol::kKinds);
    if (handle == nullptr) return nullptr;
    handle->protocol.reset(new Protocol);
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

// The handle behind an opaque pointer if it is a live handle; null for a
// null pointer and for one without the live mark.
inline ProtocolHandle* liveHandle(MbusSlaveHandle* handle) noexcept {
    ProtocolHandle* inner = toHandle(handle);
    return inner != nullptr && inner->isLive() ? inner : nullptr;
}

// The protocol object behind an opaque handle; null for a handle that is
// not live.
inline SlaveProtocol* protocolOf(MbusSlaveHandle* handle) noexcept {
    ProtocolHandle* inner = liveHandle(handle);
    return inner == nullptr ? nullptr : inner->protocol.get();
}

// The protocol object behind an opaque handle if it is of the given family
// (SerialProtocol, IpProtocol, TcpProtocol, ...); null for a handle that is
// not live or of another kind, which kind-specific functions refuse.
template <typename Protocol>
Protocol* protocolAs(MbusSlaveHandle* handle) noexcept {
    ProtocolHandle* inner = liveHandle(handle);
    if (inner == nullptr || !inner->isKindOf(Protocol::kKinds)) return nullptr;
    return static_cast<Protocol*>(inner->protocol.get());
}

// The forwarding of an exported function: calls member of the handle's
// protocol object with args if the handle is live and of the given family,
// else gives `refused`.
template <typename Protocol, typename Result, typename Member, typename... Args>
Result forward(MbusSlaveHandle* handle, Result refused, Member member, Args... args) noexcept {
    Protocol* protocol = protocolAs<Protocol>(handle);
    return protocol == nullptr ? refused : static_cast<Result>((protocol->*member)(args...));
}

// Installs the callbacks for one slave address (0..255) or all (-1).
int configureCallbacks(ProtocolHandle& handle, int slaveAddress, const Callbacks& callbacks) noexcept;

}  // namespace mbslave

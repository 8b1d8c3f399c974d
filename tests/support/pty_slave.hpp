// A serial slave handle on a pseudo-terminal pair, driven through the C
// interface, with an application whose callbacks keep holding registers
// and coils per slave address and record the writes each address got.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>

#include "mbslave.h"
#include "support/callbacks.hpp"
#include "support/handle_ptr.hpp"
#include "unit/serial/pty_pair.hpp"

namespace mbslave::test {

struct PtyApplication {
    static constexpr std::size_t kReferences = 256;  // references 1..255 (and 0)
    std::array<std::array<std::uint16_t, kReferences>, 256> registers{};
    std::array<std::array<char, kReferences>, 256> coils{};
    std::array<int, 256> writes{};
    std::array<int, 256> contextAddress{};  // slaveAddress shown to the last write
    int reads = 0;
};

inline PtyApplication ptyApp;

inline std::size_t slot(int reference) {
    return static_cast<std::size_t>(reference) % PtyApplication::kReferences;
}

inline int ptyReadRegisters(int startRef, std::uint16_t regArr[], int refCnt, const RequestInfo* info) {
    ++ptyApp.reads;
    const auto& registers = ptyApp.registers[static_cast<std::size_t>(info->slaveAddress)];
    for (int i = 0; i < refCnt; ++i) regArr[i] = registers[slot(startRef + i)];
    return 1;
}

inline int ptyReadCoils(int startRef, char bitArr[], int refCnt, const RequestInfo* info) {
    ++ptyApp.reads;
    const auto& coils = ptyApp.coils[static_cast<std::size_t>(info->slaveAddress)];
    for (int i = 0; i < refCnt; ++i) bitArr[i] = coils[slot(startRef + i)];
    return 1;
}

// Writes name their address themselves: a broadcast shows slave address 0.
template <int Address>
int ptyWriteRegisters(int startRef, const std::uint16_t regArr[], int refCnt, const RequestInfo* info) {
    ++ptyApp.writes[Address];
    ptyApp.contextAddress[Address] = info->slaveAddress;
    for (int i = 0; i < refCnt; ++i) ptyApp.registers[Address][slot(startRef + i)] = regArr[i];
    return 1;
}

template <int Address>
int ptyWriteCoils(int startRef, const char bitArr[], int refCnt, const RequestInfo* info) {
    ++ptyApp.writes[Address];
    ptyApp.contextAddress[Address] = info->slaveAddress;
    for (int i = 0; i < refCnt; ++i) ptyApp.coils[Address][slot(startRef + i)] = bitArr[i];
    return 1;
}

template <int Address>
void configurePtyAddress(MbusSlaveHandle* handle) {
    configureCallbacks(handle, Address,
                       {ptyReadRegisters, ptyWriteRegisters<Address>, ptyReadRegisters, ptyReadCoils,
                        ptyWriteCoils<Address>, ptyReadCoils});
}

// Addresses 1, 17, 254 and 255 are served; the protocol time-out is 100 ms
// so that idle passes return soon.
class PtySlave {
public:
    explicit PtySlave(MbusSlaveHandle* created) : handle(created) {
        ptyApp = PtyApplication{};
        configurePtyAddress<1>(handle.get());
        configurePtyAddress<17>(handle.get());
        configurePtyAddress<254>(handle.get());
        configurePtyAddress<255>(handle.get());
        mbusSlave_setTimeout(handle.get(), 100);
    }

    int start(int baudRate, int dataBits = 8) {
        return mbusSlave_startupSerialServer(handle.get(), pty.wideSlaveName().c_str(), baudRate,
                                             dataBits, 1, PARITY_NONE);
    }

    // Passes until the total counter reaches total or the limit passes;
    // false if a pass failed.
    bool serveUntilTotal(std::uint32_t total,
                         std::chrono::milliseconds limit = std::chrono::milliseconds(2000)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (this->total() < total && std::chrono::steady_clock::now() < deadline) {
            if (mbusSlave_serverLoop(handle.get()) != MB_OK) return false;
        }
        return true;
    }
    std::uint32_t total() { return mbusSlave_getTotalCounter(handle.get()); }
    std::uint32_t success() { return mbusSlave_getSuccessCounter(handle.get()); }

    PtyPair pty;
    HandlePtr handle;
};

}  // namespace mbslave::test

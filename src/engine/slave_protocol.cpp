#include "engine/slave_protocol.hpp"

namespace mbslave {

SlaveProtocol::SlaveProtocol() noexcept {
    const std::uint32_t start = now();
    activityTimer = Timer(start);
    for (Timer& timer : addressTimers) timer = Timer(start);
}

int SlaveProtocol::setDataTable(int slaveAddress, DataTable* table) noexcept {
    if (slaveAddress < -1 || slaveAddress >= kSlaveAddressCount) return MB_ERR_ILLEGAL_ARGUMENT;
    const std::uint32_t start = now();
    const int first = slaveAddress == -1 ? 0 : slaveAddress;
    const int last = slaveAddress == -1 ? kSlaveAddressCount - 1 : slaveAddress;
    for (int address = first; address <= last; ++address) {
        dataTables[address] = table;
        addressTimers[address].start(timeOut, start);
    }
    return MB_OK;
}

bool SlaveProtocol::noDataTableConfigured() const noexcept {
    for (const DataTable* table : dataTables) {
        if (table != nullptr) return false;
    }
    return true;
}

int SlaveProtocol::serverLoop() {
    if (!isStarted()) return MB_ERR_ILLEGAL_STATE;
    superviseMasters();
    return servePass();
}

void SlaveProtocol::superviseMasters() {
    if (timeOut == 0) return;
    // Address 255 is never supervised.
    for (int address = 0; address < kSlaveAddressCount - 1; ++address) {
        DataTable* table = dataTables[address];
        if (table == nullptr) continue;
        const std::uint32_t tick = now();
        if (addressTimers[address].hasElapsed(tick)) {
            table->signalTimeOut();
            addressTimers[address].start(timeOut, now());
        }
    }
}

int SlaveProtocol::setTimeout(std::uint32_t milliseconds) noexcept {
    if (milliseconds > kMaxTimeOut) return MB_ERR_ILLEGAL_ARGUMENT;
    timeOut = milliseconds;
    return MB_OK;
}

void SlaveProtocol::recordServedRequest(int slaveAddress) noexcept {
    const std::uint32_t tick = now();
    ++successCounter;
    activityTimer.start(timeOut, tick);
    addressTimers[slaveAddress & 0xFF].start(timeOut, tick);
}

}  // namespace mbslave

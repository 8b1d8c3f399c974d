// Installing data callbacks through the exported function without writing
// out its fifteen arguments: set the fields a test needs in a Callbacks
// value and leave the others null.
#pragma once

#include "engine/callback_data_table.hpp"
#include "mbslave.h"

namespace mbslave::test {

inline int configureCallbacks(MbusSlaveHandle* handle, int slaveAddress, const Callbacks& c) {
    return mbusSlave_configureCallbacks(handle, slaveAddress, c.readHoldingRegisters, c.writeHoldingRegisters,
                                        c.readInputRegisters, c.readCoils, c.writeCoils, c.readInputDiscretes,
                                        c.readRegisters32, c.writeRegisters32, c.readExceptionStatus,
                                        c.signalTimeOut, c.readFileRecord, c.writeFileRecord, c.reportSlaveId,
                                        c.runIndicatorStatus, c.readDeviceIdObject);
}

// A table whose every callback refuses: the address is served with exceptions.
inline int configureEmptyCallbacks(MbusSlaveHandle* handle, int slaveAddress) {
    return configureCallbacks(handle, slaveAddress, Callbacks{});
}

}  // namespace mbslave::test

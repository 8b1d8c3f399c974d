// Creating, configuring and starting the library's server for the chosen
// transport, and explaining a failed start-up.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "mbslave.h"
#include "options.hpp"

namespace sim {

// The transports this build of the simulator offers.
std::vector<Transport> availableTransports();

// Owns a handle: destroying it stops the server and frees the handle.
struct HandleDestroyer {
    void operator()(MbusSlaveHandle* handle) const { mbusSlave_destroyProtocol(handle); }
};
using ServerHandle = std::unique_ptr<MbusSlaveHandle, HandleDestroyer>;

// A new handle of the transport with the options' settings and the
// notifications wired to the callback bridge; null and an error text if the
// library refuses.
ServerHandle createServer(const SimOptions& options, std::string& error);

// Installs the bridge's callbacks for every served unit.
int configureUnits(MbusSlaveHandle* handle, const SimOptions& options);

// Starts the server on the options' port or device; an error code.
int startServer(MbusSlaveHandle* handle, const SimOptions& options);

// One line for a failed start-up: what failed, the library's text and a hint.
std::string startupFailure(int errorCode, const SimOptions& options);

// "127.0.0.1:5020" or "/dev/ttyUSB0 19200 8E1".
std::string endpointText(const SimOptions& options);
// "Modbus/TCP", "Modbus RTU", ...
std::string transportTitle(Transport transport);

// The library's text for an error code, in UTF-8.
std::string errorText(int errorCode);

}  // namespace sim

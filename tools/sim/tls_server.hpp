// The TLS transport, present when the simulator links libmbslave-tls (not
// on Windows, nor where the TLS library is not built).
#pragma once

#include <string>

#include "mbslave.h"
#include "options.hpp"

namespace sim {

// Whether this build offers the tls subcommand.
bool tlsBuilt();

// A new TLS server handle; null without the TLS library.
MbusSlaveHandle* createTlsHandle();

// The options' certificate, key and CA files, and the authorization
// callback of the bridge; on failure false and error names the option.
bool configureTls(MbusSlaveHandle* handle, const SimOptions& options, std::string& error);

}  // namespace sim

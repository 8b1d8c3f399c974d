// The TLS transport for builds without libmbslave-tls: not offered.
#include "tls_server.hpp"

namespace sim {

bool tlsBuilt() { return false; }

MbusSlaveHandle* createTlsHandle() { return nullptr; }

bool configureTls(MbusSlaveHandle*, const SimOptions&, std::string& error) {
    error = "this build of mbslave-sim has no TLS (it was built without libmbslave-tls)";
    return false;
}

}  // namespace sim

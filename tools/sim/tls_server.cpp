#include "tls_server.hpp"

#include <type_traits>

#include "callback_bridge.hpp"
#include "mbslave_tls.h"
#include "transport.hpp"

namespace sim {

// The bridge's callback is the library's authorization callback.
static_assert(std::is_same_v<decltype(&onTlsAuthorization), MbTlsAuthorizationCallback>);

bool tlsBuilt() { return true; }

MbusSlaveHandle* createTlsHandle() { return mbusSlave_createTlsProtocol(); }

bool configureTls(MbusSlaveHandle* handle, const SimOptions& options, std::string& error) {
    int result = mbusSlave_setTlsCertificate(handle, options.certificateFile.c_str(), options.keyFile.c_str());
    if (result != MB_OK) {
        error = "--cert " + options.certificateFile + ", --key " + options.keyFile + ": " + errorText(result);
        return false;
    }
    result = mbusSlave_setTlsCaFile(handle, options.caFile.c_str());
    if (result != MB_OK) {
        error = "--ca " + options.caFile + ": " + errorText(result);
        return false;
    }
    // Installed with or without --roles: it records each request's role.
    mbusSlave_configureTlsAuthorization(handle, &onTlsAuthorization);
    return true;
}

}  // namespace sim

// Exported functions of libmbslave-tls beyond the 31 of libmbslave: the TLS
// handle, its certificates, the authorization callback and the role of the
// current request. A handle of another kind is refused without being touched.
#include "api/protocol_handle.hpp"
#include "mbslave_tls.h"
#include "tls/tls_protocol.hpp"

using mbslave::protocolAs;
using mbslave::TlsProtocol;

extern "C" {

MBSLAVE_API MbusSlaveHandle* mbusSlave_createTlsProtocol(void) {
    mbslave::ProtocolHandle* handle = mbslave::createHandle<TlsProtocol>();
    if (handle != nullptr && !static_cast<TlsProtocol*>(handle->protocol.get())->isUsable()) {
        delete handle;
        return nullptr;
    }
    return mbslave::toOpaque(handle);
}

MBSLAVE_API int mbusSlave_setTlsCertificate(MbusSlaveHandle* handle, const char* certificateChainFile,
                                            const char* privateKeyFile) {
    TlsProtocol* protocol = protocolAs<TlsProtocol>(handle);
    return protocol == nullptr ? MB_ERR_ILLEGAL_STATE
                               : protocol->setCertificate(certificateChainFile, privateKeyFile);
}

MBSLAVE_API int mbusSlave_setTlsCaFile(MbusSlaveHandle* handle, const char* caFile) {
    TlsProtocol* protocol = protocolAs<TlsProtocol>(handle);
    return protocol == nullptr ? MB_ERR_ILLEGAL_STATE : protocol->setCaFile(caFile);
}

MBSLAVE_API void mbusSlave_configureTlsAuthorization(MbusSlaveHandle* handle,
                                                     MbTlsAuthorizationCallback callback) {
    if (TlsProtocol* protocol = protocolAs<TlsProtocol>(handle)) protocol->setAuthorizationCallback(callback);
}

// Every RequestInfo the library hands to a callback is the request context
// of its protocol object.
MBSLAVE_API const char* mbusSlave_getTlsRole(const RequestInfo* info) {
    return info == nullptr ? nullptr : static_cast<const mbslave::RequestContext*>(info)->role;
}

}  // extern "C"

/*
 * mbslave-tls - Modbus/TCP Security: the Modbus/TCP server of mbslave inside
 * TLS, with client certificates and roles.
 *
 * libmbslave-tls exports the functions of <mbslave.h> and the ones below;
 * link with -lmbslave-tls (pkg-config --libs mbslave-tls) instead of
 * -lmbslave. A TLS handle is a Modbus/TCP handle in every other respect:
 * the functions of the TCP kinds (connection time-out, notifications, port)
 * apply to it. Manual: mbusSlave_createTlsProtocol(3).
 */
#ifndef MBSLAVE_TLS_H
#define MBSLAVE_TLS_H

#include "mbslave.h"

#ifdef __cplusplus
extern "C" {
#endif

enum {
    /** Default port of Modbus/TCP Security. */
    MB_TLS_DEFAULT_PORT = 802,
    /** Transport of a TLS handle, as reported in RequestInfo.protocolType. */
    MB_PROTOCOL_TLS = 5
};

/** Error codes of the TLS set-up (I/O class). */
enum {
    MB_ERR_TLS_LIBRARY = 0x50,           /**< the TLS library could not set up a context */
    MB_ERR_TLS_NO_CERTIFICATE = 0x51,    /**< start-up without server certificate and key */
    MB_ERR_TLS_CERTIFICATE_FILE = 0x52,  /**< certificate chain file unreadable or not PEM */
    MB_ERR_TLS_KEY_FILE = 0x53,          /**< private key file unreadable or not PEM */
    MB_ERR_TLS_KEY_MISMATCH = 0x54,      /**< the private key does not belong to the certificate */
    MB_ERR_TLS_NO_CA = 0x55,             /**< start-up without trusted CA file */
    MB_ERR_TLS_CA_FILE = 0x56            /**< CA file unreadable or without a certificate */
};

/** Decides whether the master of the current request may make it: role is
 *  the role of its client certificate (null without a role), pdu the
 *  function code and its data (pduLength bytes), info the request context.
 *  Nonzero serves the request, 0 answers it with exception 1 (illegal
 *  function) without any data callback. */
typedef int (*MbTlsAuthorizationCallback)(const char *role, int functionCode, const uint8_t pdu[],
                                          int pduLength, const RequestInfo *info);

/** A new Modbus/TCP Security server handle (port 802); null when memory is
 *  exhausted or the TLS library cannot set up a context.
 *  Manual: mbusSlave_createTlsProtocol(3). */
MBSLAVE_API MbusSlaveHandle *mbusSlave_createTlsProtocol(void);

/** TLS: the server's certificate chain (PEM, server certificate first) and
 *  its private key (PEM, unencrypted). Manual: mbusSlave_setTlsCertificate(3). */
MBSLAVE_API int mbusSlave_setTlsCertificate(MbusSlaveHandle *handle, const char *certificateChainFile,
                                            const char *privateKeyFile);

/** TLS: the CA certificates (PEM) that masters' certificates must chain to.
 *  Manual: mbusSlave_setTlsCaFile(3). */
MBSLAVE_API int mbusSlave_setTlsCaFile(MbusSlaveHandle *handle, const char *caFile);

/** TLS: the authorization callback (null: every authenticated master may
 *  make every request). Manual: mbusSlave_configureTlsAuthorization(3). */
MBSLAVE_API void mbusSlave_configureTlsAuthorization(MbusSlaveHandle *handle,
                                                     MbTlsAuthorizationCallback callback);

/** The role of the master whose request a callback is serving, from the
 *  RequestInfo the callback got; null without a role or on other kinds.
 *  Manual: mbusSlave_getTlsRole(3). */
MBSLAVE_API const char *mbusSlave_getTlsRole(const RequestInfo *info);

#ifdef __cplusplus
}
#endif

#endif /* MBSLAVE_TLS_H */

// The TLS server context of one handle: the protocol policy of Modbus/TCP
// Security (TLS 1.2 at least, no compression, no renegotiation, AEAD suites
// with ECDHE-RSA-AES128-GCM-SHA256 among the TLS 1.2 ones, mutual
// authentication against the configured CA file), the server's certificate
// chain and key, and the role extension's object identifier.
#pragma once

#include <openssl/ssl.h>

namespace mbslave::tls {

class TlsContext {
public:
    TlsContext() noexcept;
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;
    ~TlsContext();

    // False when OpenSSL could not make the context (memory exhausted).
    bool isValid() const noexcept { return context_ != nullptr && roleOid_ != nullptr; }

    // Loads the server's certificate chain (PEM, its own certificate first)
    // and its unencrypted private key (PEM). MB_OK, MB_ERR_TLS_CERTIFICATE_FILE,
    // MB_ERR_TLS_KEY_FILE or MB_ERR_TLS_KEY_MISMATCH; after a failure no
    // certificate counts as configured.
    int useCertificate(const char* chainFile, const char* keyFile) noexcept;
    // Replaces the trusted CA certificates with those of a PEM file. MB_OK or
    // MB_ERR_TLS_CA_FILE; after a failure no CA counts as configured.
    int useCaFile(const char* caFile) noexcept;
    // MB_OK once certificate, key and CA are configured, else the error of
    // the first missing one.
    int readiness() const noexcept;

    // A new connection's TLS state in server mode; null when memory is
    // exhausted.
    SSL* newConnection() const noexcept;
    const ASN1_OBJECT* roleOid() const noexcept { return roleOid_; }

private:
    SSL_CTX* context_ = nullptr;
    ASN1_OBJECT* roleOid_ = nullptr;
    bool hasCertificate_ = false;
    bool hasCa_ = false;
};

}  // namespace mbslave::tls

#include "tls/tls_context.hpp"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include "mbslave_tls.h"

namespace mbslave::tls {

namespace {

// Forward-secret AEAD suites for TLS 1.2, the required one first; TLS 1.3
// keeps OpenSSL's suites.
constexpr const char* kTls12Suites =
    "ECDHE-RSA-AES128-GCM-SHA256:ECDHE-ECDSA-AES128-GCM-SHA256:"
    "ECDHE-RSA-AES256-GCM-SHA384:ECDHE-ECDSA-AES256-GCM-SHA384:"
    "ECDHE-RSA-CHACHA20-POLY1305:ECDHE-ECDSA-CHACHA20-POLY1305";
constexpr const char* kRoleOid = "1.3.6.1.4.1.50316.802.1";
// Resumed sessions must belong to this server's verification settings.
constexpr unsigned char kSessionContext[] = "mbslave-tls";
// Sessions kept for resumption; bounds the memory that many masters take.
constexpr long kSessionCacheSize = 256;

// An encrypted key is refused instead of asking for a pass phrase on the
// terminal.
int refusePassPhrase(char*, int, int, void*) { return 0; }

}  // namespace

TlsContext::TlsContext() noexcept {
    roleOid_ = OBJ_txt2obj(kRoleOid, 1);
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (context == nullptr) return;
    const bool configured =
        SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) == 1 &&
        SSL_CTX_set_cipher_list(context, kTls12Suites) == 1 &&
        SSL_CTX_set_session_id_context(context, kSessionContext, sizeof kSessionContext - 1) == 1;
    if (!configured) {
        SSL_CTX_free(context);
        return;
    }
    SSL_CTX_set_options(context, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION |
                                     SSL_OP_CIPHER_SERVER_PREFERENCE);
    // The server loop steps every connection without blocking: a read that
    // met a record of another type returns instead of trying the next.
    SSL_CTX_clear_mode(context, SSL_MODE_AUTO_RETRY);
    // One receive per request instead of two (record header, then body):
    // OpenSSL reads what the socket has into its buffer, which it keeps for
    // the connection's life (no SSL_MODE_RELEASE_BUFFERS, which would free
    // and allocate it again for every record).
    SSL_CTX_set_read_ahead(context, 1);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    SSL_CTX_sess_set_cache_size(context, kSessionCacheSize);
    SSL_CTX_set_default_passwd_cb(context, refusePassPhrase);
    context_ = context;
}

TlsContext::~TlsContext() {
    SSL_CTX_free(context_);
    ASN1_OBJECT_free(roleOid_);
}

int TlsContext::useCertificate(const char* chainFile, const char* keyFile) noexcept {
    hasCertificate_ = false;
    if (SSL_CTX_use_certificate_chain_file(context_, chainFile) != 1) {
        ERR_clear_error();
        return MB_ERR_TLS_CERTIFICATE_FILE;
    }
    BIO* file = BIO_new_file(keyFile, "r");
    EVP_PKEY* key = file == nullptr ? nullptr : PEM_read_bio_PrivateKey(file, nullptr, refusePassPhrase, nullptr);
    BIO_free(file);
    if (key == nullptr) {
        ERR_clear_error();
        return MB_ERR_TLS_KEY_FILE;
    }
    const bool matches = SSL_CTX_use_PrivateKey(context_, key) == 1 && SSL_CTX_check_private_key(context_) == 1;
    EVP_PKEY_free(key);
    ERR_clear_error();
    if (!matches) return MB_ERR_TLS_KEY_MISMATCH;
    hasCertificate_ = true;
    return MB_OK;
}

int TlsContext::useCaFile(const char* caFile) noexcept {
    hasCa_ = false;
    X509_STORE* store = X509_STORE_new();
    if (store == nullptr) return MB_ERR_TLS_LIBRARY;
    if (X509_STORE_load_file(store, caFile) != 1) {
        X509_STORE_free(store);
        ERR_clear_error();
        return MB_ERR_TLS_CA_FILE;
    }
    SSL_CTX_set_cert_store(context_, store);
    // The CA names go into the certificate request, so that a master with
    // several certificates picks one this server takes.
    if (STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(caFile)) {
        SSL_CTX_set_client_CA_list(context_, names);
    }
    ERR_clear_error();
    hasCa_ = true;
    return MB_OK;
}

int TlsContext::readiness() const noexcept {
    if (!hasCertificate_) return MB_ERR_TLS_NO_CERTIFICATE;
    if (!hasCa_) return MB_ERR_TLS_NO_CA;
    return MB_OK;
}

SSL* TlsContext::newConnection() const noexcept {
    SSL* connection = SSL_new(context_);
    if (connection != nullptr) SSL_set_accept_state(connection);
    return connection;
}

}  // namespace mbslave::tls

// A Modbus/TCP Security master for the TLS tests: OpenSSL's client on a
// non-blocking loopback socket, driven in the test's thread between server
// passes, so that every wait is bounded and nothing runs concurrently.
#pragma once

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support/loopback_client.hpp"

namespace mbslave::test {

class TlsMaster {
public:
    // The master's certificate and key (name.pem/name.key in pkiDir; empty:
    // none); maxVersion caps the protocol (0: OpenSSL's highest).
    TlsMaster(const std::string& pkiDir, const std::string& name, int maxVersion = 0) {
        context_ = SSL_CTX_new(TLS_client_method());
        SSL_CTX_load_verify_locations(context_, (pkiDir + "/ca.pem").c_str(), nullptr);
        SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
        if (maxVersion != 0) {
            // An old protocol needs OpenSSL's lowest security level.
            SSL_CTX_set_security_level(context_, 0);
            SSL_CTX_set_cipher_list(context_, "DEFAULT:@SECLEVEL=0");
            SSL_CTX_set_min_proto_version(context_, maxVersion);
            SSL_CTX_set_max_proto_version(context_, maxVersion);
        }
        if (!name.empty()) {
            SSL_CTX_use_certificate_chain_file(context_, (pkiDir + "/" + name + ".pem").c_str());
            SSL_CTX_use_PrivateKey_file(context_, (pkiDir + "/" + name + ".key").c_str(), SSL_FILETYPE_PEM);
        }
    }
    TlsMaster(const TlsMaster&) = delete;
    TlsMaster& operator=(const TlsMaster&) = delete;
    ~TlsMaster() {
        if (session_ != nullptr) SSL_free(session_);
        SSL_CTX_free(context_);
        ERR_clear_error();
    }

    // Connects the socket (the server accepts it in a later pass); with a
    // session of an earlier connection, the handshake offers to resume it.
    bool connect(std::uint16_t port, SSL_SESSION* resume = nullptr) {
        if (!socket_.connect(port) || !setTestSocketNonBlocking(socket_.descriptor())) return false;
        session_ = SSL_new(context_);
        if (resume != nullptr) SSL_set_session(session_, resume);
        SSL_set_fd(session_, static_cast<int>(socket_.descriptor()));
        SSL_set_tlsext_host_name(session_, "localhost");
        SSL_set_connect_state(session_);
        return true;
    }

    // Runs the handshake, a server pass whenever it waits; true once it is
    // done on this side (TLS 1.3 learns of a refused certificate later).
    bool handshake(const std::function<void()>& pass, int passes = 40) {
        for (int attempt = 0; attempt < passes; ++attempt) {
            const int result = SSL_do_handshake(session_);
            if (result == 1) return true;
            const int error = SSL_get_error(session_, result);
            if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) break;
            pass();
        }
        ERR_clear_error();
        return false;
    }

    // Writes the bytes as one TLS record.
    bool write(const std::vector<std::uint8_t>& bytes) {
        std::size_t written = 0;
        return SSL_write_ex(session_, bytes.data(), bytes.size(), &written) == 1 && written == bytes.size();
    }

    // Reads `count` decrypted bytes, with server passes while it waits;
    // fewer when the connection ended or the passes ran out.
    std::vector<std::uint8_t> read(std::size_t count, const std::function<void()>& pass, int passes = 40) {
        std::vector<std::uint8_t> bytes;
        for (int attempt = 0; bytes.size() < count && attempt < passes;) {
            std::uint8_t chunk[512];
            std::size_t got = 0;
            const std::size_t wanted = std::min(sizeof chunk, count - bytes.size());
            if (SSL_read_ex(session_, chunk, wanted, &got) == 1) {
                bytes.insert(bytes.end(), chunk, chunk + got);
                continue;
            }
            const int error = SSL_get_error(session_, 0);
            if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
                ended_ = true;
                break;
            }
            pass();
            ++attempt;
        }
        ERR_clear_error();
        return bytes;
    }

    // The TLS session for resumption (the caller frees it), once the
    // server's tickets have been read; whether this one was resumed.
    SSL_SESSION* takeSession() const { return SSL_get1_session(session_); }
    bool resumed() const { return SSL_session_reused(session_) == 1; }

    // True once a read met the end of the connection (a close alert, a
    // refusal alert, the end of stream or a reset).
    bool ended() const { return ended_; }

private:
    SSL_CTX* context_ = nullptr;
    SSL* session_ = nullptr;
    LoopbackClient socket_;
    bool ended_ = false;
};

}  // namespace mbslave::test

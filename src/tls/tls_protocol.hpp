// Modbus/TCP Security server: the Modbus/TCP server with each connection
// inside TLS. The TLS layer sits under the MBAP framing, in the transport
// steps of TcpProtocol, so that framing, counters, notifications and time-outs
// are those of Modbus/TCP. Handshakes are stepped by the passes without
// blocking and bounded by the handshake time-out; each request is checked
// by the application's authorization callback with the master's role.
#pragma once

#include <cstdint>

#include <openssl/ssl.h>

#include "base/timer.hpp"
#include "ip/tcp_protocol.hpp"
#include "mbslave_tls.h"
#include "tls/socket_bio.hpp"
#include "tls/tls_context.hpp"
#include "tls/tls_role.hpp"

namespace mbslave {

// Handshake time-out when the connection time-out is 0.
constexpr std::uint32_t kDefaultHandshakeTimeOut = 10000;

class TlsProtocol : public TcpProtocol {
public:
    static constexpr ProtocolKinds kKinds = TcpProtocol::kKinds | kind::kTls;
    TlsProtocol() noexcept;
    ~TlsProtocol() override;

    // False when OpenSSL could not set up the context at creation.
    bool isUsable() const noexcept { return context.isValid() && bioMethod.isValid(); }


    // Refused while started (MB_ERR_ILLEGAL_STATE); a null name is
    // MB_ERR_ILLEGAL_ARGUMENT; otherwise TlsContext's results.
    int setCertificate(const char* chainFile, const char* keyFile) noexcept;
    int setCaFile(const char* caFile) noexcept;
    void setAuthorizationCallback(MbTlsAuthorizationCallback callback) noexcept { authorize = callback; }

protected:
    // The Modbus/TCP pass, then the handshakes past their time-out close.
    int servePass() override;
    // Refuses a start-up without certificate, key and CA.
    int openServerSocket(const char* hostName) override;
    // Steps the handshake until it is done, then reads decrypted bytes.
    long receiveFromConnection(int slot, std::uint8_t* into, std::size_t capacity) override;
    bool sendOnConnection(int slot, const std::uint8_t* data, std::size_t length) override;
    bool admitConnection(int slot) override;
    void releaseConnection(int slot) noexcept override;
    // Also ends at the earliest handshake deadline.
    std::int32_t passWaitLimit() const noexcept override;
    // Serves with the master's role in the request context.
    bool serveFrontRequest(int slot, int length) override;
    bool admitRequest(const std::uint8_t* frame, int length) override;

private:
    struct Connection {
        SSL* session = nullptr;
        tls::SocketLink link;
        bool established = false;
        // A fatal TLS error: no close alert may be sent any more.
        bool failed = false;
        bool hasRole = false;
        char role[tls::kMaxRoleLength + 1] = {};
        Timer handshakeTimer;
    };

    // The connection's state after a TLS call that did not succeed:
    // kNothingReceived while it waits for more of the master's bytes,
    // otherwise kConnectionEnded. `retried`: the call was made for bytes
    // held from an earlier pass, not for a readable socket.
    long afterStall(Connection& connection, int result, bool retried) noexcept;
    // The handshake is done: the master's certificate passed, its role is
    // read. False when there is no verified certificate.
    bool takeMaster(Connection& connection) noexcept;

    tls::TlsContext context;
    tls::SocketBioMethod bioMethod;
    Connection connections[kMaxConnections];
    MbTlsAuthorizationCallback authorize = nullptr;
};

}  // namespace mbslave

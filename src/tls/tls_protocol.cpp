#include "tls/tls_protocol.hpp"

#include <openssl/err.h>
#include <openssl/x509.h>

namespace mbslave {

TlsProtocol::TlsProtocol() noexcept {
    localPort = MB_TLS_DEFAULT_PORT;
    requestInfo.protocolType = MB_PROTOCOL_TLS;
}

TlsProtocol::~TlsProtocol() { shutdownServer(); }

int TlsProtocol::setCertificate(const char* chainFile, const char* keyFile) noexcept {
    if (isStarted()) return MB_ERR_ILLEGAL_STATE;
    if (chainFile == nullptr || keyFile == nullptr) return MB_ERR_ILLEGAL_ARGUMENT;
    return context.useCertificate(chainFile, keyFile);
}

int TlsProtocol::setCaFile(const char* caFile) noexcept {
    if (isStarted()) return MB_ERR_ILLEGAL_STATE;
    if (caFile == nullptr) return MB_ERR_ILLEGAL_ARGUMENT;
    return context.useCaFile(caFile);
}

int TlsProtocol::openServerSocket(const char* hostName) {
    const int ready = context.readiness();
    return ready != MB_OK ? ready : TcpProtocol::openServerSocket(hostName);
}

int TlsProtocol::servePass() {
    const int result = TcpProtocol::servePass();
    if (result != MB_OK) return result;
    // Half-done handshakes must not hold the 32 places.
    const std::uint32_t tick = now();
    for (int slot = 0; slot < kMaxConnections; ++slot) {
        const Connection& connection = connections[slot];
        if (connectionSockets[slot].isValid() && !connection.established &&
            connection.handshakeTimer.hasElapsed(tick)) {
            closeConnection(slot);
        }
    }
    return result;
}

std::int32_t TlsProtocol::passWaitLimit() const noexcept {
    std::int32_t limit = TcpProtocol::passWaitLimit();
    const std::uint32_t tick = now();
    for (int slot = 0; slot < kMaxConnections; ++slot) {
        if (!connectionSockets[slot].isValid() || connections[slot].established) continue;
        const auto left = static_cast<std::int32_t>(connections[slot].handshakeTimer.remaining(tick));
        if (limit == platform::SocketWaitSet::kWithoutLimit || left < limit) limit = left;
    }
    return limit;
}

bool TlsProtocol::admitConnection(int slot) {
    Connection& connection = connections[slot];
    connection = Connection{};
    connection.link.socket = &connectionSockets[slot];
    connection.handshakeTimer.start(connectionTimeOut > 0 ? connectionTimeOut : kDefaultHandshakeTimeOut, now());
    connection.session = context.newConnection();
    if (connection.session == nullptr) return false;
    BIO* bio = bioMethod.open(&connection.link);
    if (bio == nullptr) return false;
    SSL_set_bio(connection.session, bio, bio);
    return true;
}

void TlsProtocol::releaseConnection(int slot) noexcept {
    Connection& connection = connections[slot];
    if (connection.session == nullptr) return;
    // One close alert, sent without waiting for the master's.
    if (connection.established && !connection.failed) SSL_shutdown(connection.session);
    SSL_free(connection.session);
    ERR_clear_error();
    connection = Connection{};
}

long TlsProtocol::receiveFromConnection(int slot, std::uint8_t* into, std::size_t capacity) {
    Connection& connection = connections[slot];
    StreamBuffer& stream = streams[slot];
    const bool retried = stream.inputHeld;
    stream.inputHeld = false;
    connection.link.bytesIn = 0;
    if (capacity == 0 || connection.session == nullptr) return kConnectionEnded;
    // SSL_get_error reads the thread's error queue, which must be empty
    // before the call (the application may use OpenSSL too).
    ERR_clear_error();
    if (!connection.established) {
        const int result = SSL_do_handshake(connection.session);
        if (result != 1) return afterStall(connection, result, retried);
        if (!takeMaster(connection)) return kConnectionEnded;
    }
    std::size_t received = 0;
    const int result = SSL_read_ex(connection.session, into, capacity, &received);
    if (result != 1) return afterStall(connection, result, retried);
    // Decrypted bytes beyond the stream's room, and records read ahead of
    // them, wait in OpenSSL; no socket wait would show them. (A part of a
    // record held there costs one pass without wait, which then waits.)
    stream.inputHeld = SSL_has_pending(connection.session) == 1;
    return static_cast<long>(received);
}

long TlsProtocol::afterStall(Connection& connection, int result, bool retried) noexcept {
    switch (SSL_get_error(connection.session, result)) {
        case SSL_ERROR_WANT_READ:
            // A readable socket that gave nothing failed, as on Modbus/TCP;
            // bytes that made no whole record (or only a handshake) wait.
            if (retried || connection.link.bytesIn > 0) return kNothingReceived;
            return kConnectionEnded;
        case SSL_ERROR_ZERO_RETURN:
            // The master's close alert: answered with ours.
            return kConnectionEnded;
        default:
            // A refused handshake (OpenSSL sent its alert), a master that
            // does not read (a flight or reply that does not fit the
            // socket), a reset or a broken record.
            connection.failed = true;
            ERR_clear_error();
            return kConnectionEnded;
    }
}

bool TlsProtocol::takeMaster(Connection& connection) noexcept {
    X509* certificate = SSL_get0_peer_certificate(connection.session);
    if (certificate == nullptr || SSL_get_verify_result(connection.session) != X509_V_OK) {
        connection.failed = true;
        return false;
    }
    connection.established = true;
    connection.hasRole = tls::readRole(certificate, context.roleOid(), connection.role);
    return true;
}

bool TlsProtocol::sendOnConnection(int slot, const std::uint8_t* data, std::size_t length) {
    Connection& connection = connections[slot];
    ERR_clear_error();
    std::size_t written = 0;
    if (SSL_write_ex(connection.session, data, length, &written) == 1 && written == length) return true;
    connection.failed = true;
    ERR_clear_error();
    return false;
}

bool TlsProtocol::serveFrontRequest(int slot, int length) {
    const Connection& connection = connections[slot];
    requestInfo.role = connection.hasRole ? connection.role : nullptr;
    const bool served = TcpProtocol::serveFrontRequest(slot, length);
    requestInfo.role = nullptr;
    return served;
}

bool TlsProtocol::admitRequest(const std::uint8_t* frame, int length) {
    if (authorize == nullptr) return true;
    return authorize(requestInfo.role, frame[1], frame + 1, length - 1, &requestInfo) != 0;
}

}  // namespace mbslave

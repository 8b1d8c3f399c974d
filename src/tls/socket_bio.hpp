// An OpenSSL BIO over a platform socket: TLS reads and writes the
// connection through the same non-blocking receive and send as Modbus/TCP,
// so that OpenSSL never touches the descriptor itself.
#pragma once

#include <openssl/bio.h>

#include "platform/socket.hpp"

namespace mbslave::tls {

// What one connection's BIO works on, and what its reads saw since the
// caller last cleared it.
struct SocketLink {
    platform::Socket* socket = nullptr;
    long bytesIn = 0;
};

// The BIO method of one protocol object (no state shared between handles).
class SocketBioMethod {
public:
    SocketBioMethod() noexcept;
    SocketBioMethod(const SocketBioMethod&) = delete;
    SocketBioMethod& operator=(const SocketBioMethod&) = delete;
    ~SocketBioMethod();

    bool isValid() const noexcept { return method_ != nullptr; }
    // A BIO that reads and writes link's socket; null when memory is
    // exhausted. The link must outlive the BIO.
    BIO* open(SocketLink* link) const noexcept;

private:
    BIO_METHOD* method_ = nullptr;
};

}  // namespace mbslave::tls

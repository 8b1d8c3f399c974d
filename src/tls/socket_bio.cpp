#include "tls/socket_bio.hpp"

namespace mbslave::tls {

namespace {

// A fixed type, not BIO_get_new_index(): that counter is process-wide and
// would grow with every handle made. Types below 128 not taken by OpenSSL.
constexpr int kSocketBioType = 0x7E | BIO_TYPE_SOURCE_SINK;

SocketLink* linkOf(BIO* bio) noexcept { return static_cast<SocketLink*>(BIO_get_data(bio)); }

int readSocket(BIO* bio, char* buffer, std::size_t capacity, std::size_t* received) {
    BIO_clear_retry_flags(bio);
    SocketLink* link = linkOf(bio);
    const long count = link->socket->receive(buffer, capacity);
    *received = 0;
    if (count > 0) {
        *received = static_cast<std::size_t>(count);
        link->bytesIn += count;
        return 1;
    }
    // 0: the master closed (end of stream, no retry). Otherwise nothing is
    // there yet; an error shows as the end of stream on a later read.
    if (count < 0) BIO_set_retry_read(bio);
    return 0;
}

int writeSocket(BIO* bio, const char* data, std::size_t length, std::size_t* written) {
    BIO_clear_retry_flags(bio);
    const long count = linkOf(bio)->socket->send(data, length);
    *written = 0;
    if (count > 0) {
        *written = static_cast<std::size_t>(count);
        return 1;
    }
    BIO_set_retry_write(bio);
    return 0;
}

long controlSocket(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }

int createSocket(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

}  // namespace

SocketBioMethod::SocketBioMethod() noexcept {
    method_ = BIO_meth_new(kSocketBioType, "mbslave socket");
    if (method_ == nullptr) return;
    BIO_meth_set_read_ex(method_, readSocket);
    BIO_meth_set_write_ex(method_, writeSocket);
    BIO_meth_set_ctrl(method_, controlSocket);
    BIO_meth_set_create(method_, createSocket);
}

SocketBioMethod::~SocketBioMethod() { BIO_meth_free(method_); }

BIO* SocketBioMethod::open(SocketLink* link) const noexcept {
    BIO* bio = BIO_new(method_);
    if (bio != nullptr) BIO_set_data(bio, link);
    return bio;
}

}  // namespace mbslave::tls

#include "platform/socket.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace mbslave::platform {

namespace {

sockaddr_in toSockaddr(const Ipv4Endpoint& endpoint) noexcept {
    sockaddr_in record{};
    record.sin_family = AF_INET;
    record.sin_port = htons(endpoint.port);
    record.sin_addr.s_addr = htonl(endpoint.address);
    return record;
}

Ipv4Endpoint fromSockaddr(const sockaddr_in& record) noexcept {
    return Ipv4Endpoint{ntohl(record.sin_addr.s_addr), ntohs(record.sin_port)};
}

struct OptionName {
    int level;
    int name;
};

OptionName optionName(SocketOption option) noexcept {
    switch (option) {
        case SocketOption::reuseAddress: return {SOL_SOCKET, SO_REUSEADDR};
        case SocketOption::noDelay: return {IPPROTO_TCP, TCP_NODELAY};
        case SocketOption::keepAlive: return {SOL_SOCKET, SO_KEEPALIVE};
        case SocketOption::receiveBuffer: return {SOL_SOCKET, SO_RCVBUF};
        case SocketOption::sendBuffer: return {SOL_SOCKET, SO_SNDBUF};
    }
    return {SOL_SOCKET, SO_REUSEADDR};
}

}  // namespace

// Nothing to start: the POSIX socket interface is part of the C library.
SocketLibrary::SocketLibrary() noexcept : started_(true) {}
SocketLibrary::~SocketLibrary() = default;

bool resolveIpv4(const char* hostName, std::uint32_t& address) noexcept {
    in_addr parsed{};
    if (inet_pton(AF_INET, hostName, &parsed) == 1) {
        address = ntohl(parsed.s_addr);
        return true;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (getaddrinfo(hostName, nullptr, &hints, &found) != 0 || found == nullptr) return false;
    sockaddr_in record{};
    std::memcpy(&record, found->ai_addr, sizeof record);
    freeaddrinfo(found);
    address = ntohl(record.sin_addr.s_addr);
    return true;
}

bool Socket::openStream() noexcept {
    close();
    descriptor_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    return isValid();
}

bool Socket::openDatagram() noexcept {
    close();
    descriptor_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    return isValid();
}

bool Socket::setNonBlocking() noexcept {
    const int flags = ::fcntl(descriptor_, F_GETFL);
    return flags >= 0 && ::fcntl(descriptor_, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool Socket::setOption(SocketOption option, int value) noexcept {
    const OptionName which = optionName(option);
    return ::setsockopt(descriptor_, which.level, which.name, &value, sizeof value) == 0;
}

BindError Socket::bind(const Ipv4Endpoint& local) noexcept {
    const sockaddr_in record = toSockaddr(local);
    if (::bind(descriptor_, reinterpret_cast<const sockaddr*>(&record), sizeof record) == 0) {
        return BindError::none;
    }
    switch (errno) {
        case EACCES:
        case EPERM: return BindError::noPermission;
        case EADDRINUSE: return BindError::addressInUse;
        default: return BindError::other;
    }
}

bool Socket::listen(int backlog) noexcept { return ::listen(descriptor_, backlog) == 0; }

std::uint16_t Socket::localPort() const noexcept {
    sockaddr_in record{};
    socklen_t length = sizeof record;
    if (::getsockname(descriptor_, reinterpret_cast<sockaddr*>(&record), &length) != 0) return 0;
    return ntohs(record.sin_port);
}

Socket Socket::accept(Ipv4Endpoint& peer) noexcept {
    sockaddr_in record{};
    socklen_t length = sizeof record;
    const int accepted = ::accept4(descriptor_, reinterpret_cast<sockaddr*>(&record), &length,
                                   SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (accepted >= 0) peer = fromSockaddr(record);
    return Socket(accepted);
}

long Socket::receive(void* buffer, std::size_t capacity) noexcept {
    ssize_t received;
    do {
        received = ::recv(descriptor_, buffer, capacity, MSG_DONTWAIT);
    } while (received < 0 && errno == EINTR);
    return static_cast<long>(received);
}

long Socket::send(const void* data, std::size_t length) noexcept {
    ssize_t sent;
    do {
        sent = ::send(descriptor_, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (sent < 0 && errno == EINTR);
    return static_cast<long>(sent);
}

long Socket::receiveFrom(void* buffer, std::size_t capacity, Ipv4Endpoint& source) noexcept {
    sockaddr_in record{};
    socklen_t length = sizeof record;
    ssize_t size;
    do {
        size = ::recvfrom(descriptor_, buffer, capacity, MSG_TRUNC | MSG_DONTWAIT,
                          reinterpret_cast<sockaddr*>(&record), &length);
    } while (size < 0 && errno == EINTR);
    if (size >= 0) source = fromSockaddr(record);
    return static_cast<long>(size);
}

long Socket::sendTo(const void* data, std::size_t length, const Ipv4Endpoint& destination) noexcept {
    const sockaddr_in record = toSockaddr(destination);
    ssize_t sent;
    do {
        sent = ::sendto(descriptor_, data, length, MSG_NOSIGNAL | MSG_DONTWAIT,
                        reinterpret_cast<const sockaddr*>(&record), sizeof record);
    } while (sent < 0 && errno == EINTR);
    return static_cast<long>(sent);
}

void Socket::close() noexcept {
    if (!isValid()) return;
    ::close(static_cast<int>(descriptor_));
    descriptor_ = kInvalidSocket;
}

SocketWaitSet::Result SocketWaitSet::wait(std::uint32_t timeoutMs) noexcept {
    pollfd records[kCapacity];
    for (int entry = 0; entry < count_; ++entry) {
        records[entry] = pollfd{static_cast<int>(entries_[entry]), POLLIN, 0};
    }
    readable_ = 0;
    const int timeout = timeoutMs == 0 ? -1 : static_cast<int>(timeoutMs);
    const int ready = ::poll(records, static_cast<nfds_t>(count_), timeout);
    if (ready > 0) {
        for (int entry = 0; entry < count_; ++entry) {
            if ((records[entry].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                readable_ |= std::uint64_t{1} << entry;
            }
        }
        return Result::ready;
    }
    if (ready == 0) return Result::timedOut;
    return errno == EINTR ? Result::interrupted : Result::failed;
}

const char* AddressText::format(const Ipv4Endpoint& endpoint) noexcept {
    const in_addr address{htonl(endpoint.address)};
    if (inet_ntop(AF_INET, &address, text_, sizeof text_) == nullptr) text_[0] = '\0';
    return text_;
}

}  // namespace mbslave::platform

#include "platform/socket.hpp"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <cstring>

namespace mbslave::platform {

namespace {

SOCKET toSocket(NativeSocket handle) noexcept { return static_cast<SOCKET>(handle); }

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
        // SO_REUSEADDR on Windows lets any other process bind the same port
        // and take its traffic. Windows binds past TIME_WAIT without it;
        // SO_EXCLUSIVEADDRUSE keeps every other server off the port.
        case SocketOption::reuseAddress: return {SOL_SOCKET, SO_EXCLUSIVEADDRUSE};
        case SocketOption::noDelay: return {IPPROTO_TCP, TCP_NODELAY};
        case SocketOption::keepAlive: return {SOL_SOCKET, SO_KEEPALIVE};
        case SocketOption::receiveBuffer: return {SOL_SOCKET, SO_RCVBUF};
        case SocketOption::sendBuffer: return {SOL_SOCKET, SO_SNDBUF};
    }
    return {SOL_SOCKET, SO_EXCLUSIVEADDRUSE};
}

int clampedLength(std::size_t length) noexcept {
    constexpr std::size_t kMaxLength = 0x7FFFFFFF;
    return static_cast<int>(length < kMaxLength ? length : kMaxLength);
}

}  // namespace

SocketLibrary::SocketLibrary() noexcept {
    WSADATA data{};
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

SocketLibrary::~SocketLibrary() {
    if (started_) WSACleanup();
}

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

// WSA_FLAG_NO_HANDLE_INHERIT keeps the socket out of child processes, as
// close-on-exec does on POSIX.
bool Socket::openStream() noexcept {
    close();
    descriptor_ = static_cast<NativeSocket>(
        WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT));
    return isValid();
}

bool Socket::openDatagram() noexcept {
    close();
    descriptor_ = static_cast<NativeSocket>(
        WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT));
    return isValid();
}

bool Socket::setNonBlocking() noexcept {
    u_long enabled = 1;
    return ioctlsocket(toSocket(descriptor_), FIONBIO, &enabled) == 0;
}

bool Socket::setOption(SocketOption option, int value) noexcept {
    const OptionName which = optionName(option);
    return ::setsockopt(toSocket(descriptor_), which.level, which.name,
                        reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

BindError Socket::bind(const Ipv4Endpoint& local) noexcept {
    const sockaddr_in record = toSockaddr(local);
    if (::bind(toSocket(descriptor_), reinterpret_cast<const sockaddr*>(&record), sizeof record) == 0) {
        return BindError::none;
    }
    switch (WSAGetLastError()) {
        case WSAEACCES: return BindError::noPermission;
        case WSAEADDRINUSE: return BindError::addressInUse;
        default: return BindError::other;
    }
}

bool Socket::listen(int backlog) noexcept { return ::listen(toSocket(descriptor_), backlog) == 0; }

std::uint16_t Socket::localPort() const noexcept {
    sockaddr_in record{};
    int length = sizeof record;
    if (::getsockname(toSocket(descriptor_), reinterpret_cast<sockaddr*>(&record), &length) != 0) {
        return 0;
    }
    return ntohs(record.sin_port);
}

Socket Socket::accept(Ipv4Endpoint& peer) noexcept {
    sockaddr_in record{};
    int length = sizeof record;
    Socket accepted(static_cast<NativeSocket>(
        ::accept(toSocket(descriptor_), reinterpret_cast<sockaddr*>(&record), &length)));
    if (!accepted.isValid()) return accepted;
    // Accepted sockets take over the listener's mode; set it anyway, so that
    // a connection never blocks the server loop.
    if (!accepted.setNonBlocking()) return Socket();
    peer = fromSockaddr(record);
    return accepted;
}

long Socket::receive(void* buffer, std::size_t capacity) noexcept {
    return ::recv(toSocket(descriptor_), static_cast<char*>(buffer), clampedLength(capacity), 0);
}

long Socket::send(const void* data, std::size_t length) noexcept {
    return ::send(toSocket(descriptor_), static_cast<const char*>(data), clampedLength(length), 0);
}

long Socket::receiveFrom(void* buffer, std::size_t capacity, Ipv4Endpoint& source) noexcept {
    sockaddr_in record{};
    int length = sizeof record;
    const int size = ::recvfrom(toSocket(descriptor_), static_cast<char*>(buffer),
                                clampedLength(capacity), 0,
                                reinterpret_cast<sockaddr*>(&record), &length);
    if (size == SOCKET_ERROR) {
        // Windows cuts an oversized datagram and reports WSAEMSGSIZE without
        // its real size: one byte beyond the capacity marks it as too large.
        if (WSAGetLastError() != WSAEMSGSIZE) return -1;
        source = fromSockaddr(record);
        return static_cast<long>(capacity) + 1;
    }
    source = fromSockaddr(record);
    return size;
}

long Socket::sendTo(const void* data, std::size_t length, const Ipv4Endpoint& destination) noexcept {
    const sockaddr_in record = toSockaddr(destination);
    return ::sendto(toSocket(descriptor_), static_cast<const char*>(data), clampedLength(length), 0,
                    reinterpret_cast<const sockaddr*>(&record), sizeof record);
}

void Socket::close() noexcept {
    if (!isValid()) return;
    ::closesocket(toSocket(descriptor_));
    descriptor_ = kInvalidSocket;
}

// A Windows fd_set is a counted array of FD_SETSIZE handles (64 by default),
// not a bit field indexed by the handle's value: every socket of the set fits.
static_assert(FD_SETSIZE >= SocketWaitSet::kCapacity, "fd_set holds the whole wait set");

SocketWaitSet::Result SocketWaitSet::wait(std::uint32_t timeoutMs) noexcept {
    readable_ = 0;
    if (count_ == 0) {
        // select refuses an empty set (WSAEINVAL); nothing to wait for is a
        // plain wait.
        if (timeoutMs == 0) return Result::failed;
        Sleep(timeoutMs);
        return Result::timedOut;
    }
    fd_set readSet;
    FD_ZERO(&readSet);
    for (int entry = 0; entry < count_; ++entry) FD_SET(toSocket(entries_[entry]), &readSet);
    timeval limit{static_cast<long>(timeoutMs / 1000u), static_cast<long>(timeoutMs % 1000u) * 1000L};
    // The first argument is ignored on Windows.
    const int ready = ::select(0, &readSet, nullptr, nullptr, timeoutMs == 0 ? nullptr : &limit);
    if (ready > 0) {
        for (int entry = 0; entry < count_; ++entry) {
            if (FD_ISSET(toSocket(entries_[entry]), &readSet)) readable_ |= std::uint64_t{1} << entry;
        }
        return Result::ready;
    }
    if (ready == 0) return Result::timedOut;
    return WSAGetLastError() == WSAEINTR ? Result::interrupted : Result::failed;
}

const char* AddressText::format(const Ipv4Endpoint& endpoint) noexcept {
    const std::uint32_t a = endpoint.address;
    std::snprintf(text_, sizeof text_, "%u.%u.%u.%u", static_cast<unsigned>(a >> 24),
                  static_cast<unsigned>(a >> 16 & 0xFFu), static_cast<unsigned>(a >> 8 & 0xFFu),
                  static_cast<unsigned>(a & 0xFFu));
    return text_;
}

}  // namespace mbslave::platform

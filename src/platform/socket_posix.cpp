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

#include "platform/sockaddr_ipv4.hpp"

namespace mbslave::platform {

namespace {

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

// -1 with errno set to the injected error, else what the system call gives.
template <typename SystemCall>
auto unlessInjected(SocketFaults* faults, SocketCall call, SystemCall systemCall) noexcept
    -> decltype(systemCall()) {
    if (const int error = injectedError(faults, call); error != 0) {
        errno = error;
        return -1;
    }
    return systemCall();
}

bool outOfDescriptors(int error) noexcept { return error == EMFILE || error == ENFILE; }

// Room for the local address of one datagram.
union PacketInfoControl {
    cmsghdr header;
    unsigned char bytes[CMSG_SPACE(sizeof(in_pktinfo))];
};

// A message of one buffer to or from `peer`, with room for the local address.
msghdr datagramMessage(sockaddr_in& peer, iovec& data, PacketInfoControl& control) noexcept {
    msghdr message{};
    message.msg_name = &peer;
    message.msg_namelen = sizeof peer;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control.bytes;
    message.msg_controllen = sizeof control.bytes;
    return message;
}

}  // namespace

// Nothing to start: the POSIX socket interface is part of the C library.
bool SocketLibrary::start(SocketFaults* faults) noexcept {
    started_ = injectedError(faults, SocketCall::startLibrary) == 0;
    return started_;
}

SocketLibrary::~SocketLibrary() = default;

bool resolveIpv4(const char* hostName, std::uint32_t& address) noexcept {
    return resolveIpv4Address(hostName, address);
}

bool Socket::openStream() noexcept {
    close();
    descriptor_ = unlessInjected(faults_, SocketCall::open,
                                 [] { return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); });
    return isValid();
}

bool Socket::openDatagram() noexcept {
    close();
    descriptor_ = unlessInjected(faults_, SocketCall::open, [] {
        return ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    });
    if (!isValid()) return false;
    const int on = 1;
    ::setsockopt(static_cast<int>(descriptor_), IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    return true;
}

bool Socket::setNonBlocking() noexcept {
    const int flags = unlessInjected(faults_, SocketCall::setNonBlocking,
                                     [this] { return ::fcntl(static_cast<int>(descriptor_), F_GETFL); });
    return flags >= 0 && ::fcntl(descriptor_, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool Socket::setOption(SocketOption option, int value) noexcept {
    const OptionName which = optionName(option);
    return ::setsockopt(descriptor_, which.level, which.name, &value, sizeof value) == 0;
}

bool Socket::setKeepAlive(int idleSeconds, int intervalSeconds, int probes) noexcept {
    if (!setOption(SocketOption::keepAlive, 1)) return false;
    const int fd = static_cast<int>(descriptor_);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idleSeconds, sizeof idleSeconds);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &intervalSeconds, sizeof intervalSeconds);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
    return true;
}

BindResult Socket::bind(const Ipv4Endpoint& local) noexcept {
    const sockaddr_in record = toSockaddr(local);
    if (unlessInjected(faults_, SocketCall::bind, [&] {
            return ::bind(descriptor_, reinterpret_cast<const sockaddr*>(&record), sizeof record);
        }) == 0) {
        return BindResult::ok;
    }
    switch (errno) {
        case EACCES:
        case EPERM: return BindResult::noPermission;
        case EADDRINUSE: return BindResult::addressInUse;
        default: return BindResult::addressUnavailable;
    }
}

bool Socket::listen(int backlog) noexcept {
    if (unlessInjected(faults_, SocketCall::listen, [&] { return ::listen(descriptor_, backlog); }) != 0) {
        return false;
    }
    // Any descriptor will do as the reserve; a duplicate needs no file.
    if (reserve_ == kInvalidSocket) reserve_ = ::fcntl(descriptor_, F_DUPFD_CLOEXEC, 0);
    return true;
}

std::uint16_t Socket::localPort() const noexcept {
    sockaddr_in record{};
    socklen_t length = sizeof record;
    if (::getsockname(descriptor_, reinterpret_cast<sockaddr*>(&record), &length) != 0) return 0;
    return ntohs(record.sin_port);
}

Socket Socket::accept(Ipv4Endpoint& peer) noexcept {
    sockaddr_in record{};
    socklen_t length = sizeof record;
    const int accepted = unlessInjected(faults_, SocketCall::accept, [&] {
        return ::accept4(descriptor_, reinterpret_cast<sockaddr*>(&record), &length,
                         SOCK_NONBLOCK | SOCK_CLOEXEC);
    });
    if (accepted >= 0) {
        peer = fromSockaddr(record);
    } else if (outOfDescriptors(errno)) {
        dropPendingConnection();
    }
    return Socket(accepted, faults_);
}

void Socket::dropPendingConnection() noexcept {
    if (reserve_ != kInvalidSocket) ::close(static_cast<int>(reserve_));
    const int taken = ::accept4(descriptor_, nullptr, nullptr, SOCK_CLOEXEC);
    if (taken >= 0) ::close(taken);
    reserve_ = ::fcntl(descriptor_, F_DUPFD_CLOEXEC, 0);
}

long Socket::receive(void* buffer, std::size_t capacity) noexcept {
    ssize_t received;
    do {
        received = unlessInjected(faults_, SocketCall::receive,
                                  [&] { return ::recv(descriptor_, buffer, capacity, MSG_DONTWAIT); });
    } while (received < 0 && errno == EINTR);
    return static_cast<long>(received);
}

long Socket::send(const void* data, std::size_t length) noexcept {
    ssize_t sent;
    do {
        sent = unlessInjected(faults_, SocketCall::send, [&] {
            return ::send(descriptor_, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        });
    } while (sent < 0 && errno == EINTR);
    return static_cast<long>(sent);
}

long Socket::receiveFrom(void* buffer, std::size_t capacity, Ipv4Endpoint& source,
                         std::uint32_t& localAddress) noexcept {
    sockaddr_in record{};
    iovec data{buffer, capacity};
    PacketInfoControl control{};
    msghdr message = datagramMessage(record, data, control);
    ssize_t size;
    do {
        size = unlessInjected(faults_, SocketCall::receive,
                              [&] { return ::recvmsg(descriptor_, &message, MSG_TRUNC | MSG_DONTWAIT); });
    } while (size < 0 && errno == EINTR);
    if (size < 0) return -1;
    source = fromSockaddr(record);
    localAddress = kAnyAddress;
    for (cmsghdr* item = CMSG_FIRSTHDR(&message); item != nullptr; item = CMSG_NXTHDR(&message, item)) {
        if (item->cmsg_level != IPPROTO_IP || item->cmsg_type != IP_PKTINFO) continue;
        in_pktinfo info{};
        std::memcpy(&info, CMSG_DATA(item), sizeof info);
        // The local address to answer from: the destination of a unicast
        // datagram, the receiving interface's address for a broadcast.
        localAddress = ntohl(info.ipi_spec_dst.s_addr);
    }
    return static_cast<long>(size);
}

long Socket::sendTo(const void* data, std::size_t length, const Ipv4Endpoint& destination,
                    std::uint32_t localAddress) noexcept {
    sockaddr_in record = toSockaddr(destination);
    iovec bytes{const_cast<void*>(data), length};
    PacketInfoControl control{};
    msghdr message = datagramMessage(record, bytes, control);
    if (localAddress == kAnyAddress) {
        message.msg_control = nullptr;
        message.msg_controllen = 0;
    } else {
        cmsghdr* item = CMSG_FIRSTHDR(&message);
        item->cmsg_level = IPPROTO_IP;
        item->cmsg_type = IP_PKTINFO;
        item->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_spec_dst.s_addr = htonl(localAddress);
        std::memcpy(CMSG_DATA(item), &info, sizeof info);
    }
    ssize_t sent;
    do {
        sent = unlessInjected(faults_, SocketCall::send, [&] {
            return ::sendmsg(descriptor_, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
        });
    } while (sent < 0 && errno == EINTR);
    return static_cast<long>(sent);
}

void Socket::close() noexcept {
    if (reserve_ != kInvalidSocket) ::close(static_cast<int>(reserve_));
    reserve_ = kInvalidSocket;
    if (!isValid()) return;
    ::close(static_cast<int>(descriptor_));
    descriptor_ = kInvalidSocket;
}

SocketWaitSet::Result SocketWaitSet::wait(std::int32_t timeoutMs) noexcept {
    pollfd records[kCapacity];
    for (int entry = 0; entry < count_; ++entry) {
        records[entry] = pollfd{static_cast<int>(entries_[entry]), POLLIN, 0};
    }
    readable_ = 0;
    const int timeout = timeoutMs < 0 ? -1 : static_cast<int>(timeoutMs);
    const int ready = unlessInjected(
        faults_, SocketCall::wait, [&] { return ::poll(records, static_cast<nfds_t>(count_), timeout); });
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

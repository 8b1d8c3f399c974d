#include "platform/socket.hpp"

#include <winsock2.h>
#include <mstcpip.h>
#include <mswsock.h>
#include <ws2tcpip.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "platform/sockaddr_ipv4.hpp"

namespace mbslave::platform {

namespace {

SOCKET toSocket(NativeSocket handle) noexcept { return static_cast<SOCKET>(handle); }

struct OptionName {
    int level;
    int name;
};

OptionName optionName(SocketOption option) noexcept {
    switch (option) {
        // Never set: see Socket::setOption.
        case SocketOption::reuseAddress: break;
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

// The call's failure value (SOCKET_ERROR or INVALID_SOCKET, both all bits
// set) with the injected error as the last socket error, else what the
// system call gives.
template <typename SystemCall>
auto unlessInjected(SocketFaults* faults, SocketCall call, SystemCall systemCall) noexcept
    -> decltype(systemCall()) {
    if (const int error = injectedError(faults, call); error != 0) {
        WSASetLastError(error);
        return static_cast<decltype(systemCall())>(-1);
    }
    return systemCall();
}

bool outOfDescriptors(int error) noexcept { return error == WSAEMFILE || error == WSAENOBUFS; }

SOCKET openSocket(int type, int protocol) noexcept {
    // WSA_FLAG_NO_HANDLE_INHERIT keeps the socket out of child processes, as
    // close-on-exec does on POSIX.
    return WSASocketW(AF_INET, type, protocol, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
}

bool makeNonBlocking(SOCKET socket) noexcept {
    u_long enabled = 1;
    return ioctlsocket(socket, FIONBIO, &enabled) == 0;
}

// WSARecvMsg is an extension of the socket provider, found through
// WSAIoctl; the same for every IPv4 datagram socket, so looked up once.
std::atomic<LPFN_WSARECVMSG> receiveMessageFunction{nullptr};

LPFN_WSARECVMSG receiveMessage(SOCKET socket) noexcept {
    LPFN_WSARECVMSG function = receiveMessageFunction.load(std::memory_order_relaxed);
    if (function != nullptr) return function;
    GUID id = WSAID_WSARECVMSG;
    DWORD length = 0;
    if (WSAIoctl(socket, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &function, sizeof function,
                 &length, nullptr, nullptr) != 0) {
        return nullptr;
    }
    receiveMessageFunction.store(function, std::memory_order_relaxed);
    return function;
}

// Room for the local address of one datagram.
union PacketInfoControl {
    WSACMSGHDR header;
    char bytes[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))];
};

// A message of one buffer to or from `peer`, with room for the local address.
WSAMSG datagramMessage(sockaddr_in& peer, WSABUF& data, PacketInfoControl& control) noexcept {
    WSAMSG message{};
    message.name = reinterpret_cast<sockaddr*>(&peer);
    message.namelen = sizeof peer;
    message.lpBuffers = &data;
    message.dwBufferCount = 1;
    message.Control.buf = control.bytes;
    message.Control.len = sizeof control.bytes;
    return message;
}

// Whether address is one of this host's own unicast addresses: on the
// loopback network any address but its broadcast, elsewhere an address the
// stack offers for binding. A host whose list does not fit the room here
// gets the route's choice of source.
bool isOwnUnicastAddress(SOCKET socket, std::uint32_t address) noexcept {
    if ((address >> 24) == 127u) return address != 0x7FFFFFFFu;
    alignas(alignof(SOCKET_ADDRESS_LIST)) char room[4096];
    DWORD length = 0;
    if (WSAIoctl(socket, SIO_ADDRESS_LIST_QUERY, nullptr, 0, room, sizeof room, &length, nullptr, nullptr) != 0) {
        return false;
    }
    const auto* list = reinterpret_cast<const SOCKET_ADDRESS_LIST*>(room);
    for (INT entry = 0; entry < list->iAddressCount; ++entry) {
        const SOCKET_ADDRESS& local = list->Address[entry];
        if (local.lpSockaddr == nullptr || local.lpSockaddr->sa_family != AF_INET) continue;
        sockaddr_in record{};
        std::memcpy(&record, local.lpSockaddr, sizeof record);
        if (ntohl(record.sin_addr.s_addr) == address) return true;
    }
    return false;
}

// The local address a reply to a received datagram leaves from: the one
// it was sent to. IN_PKTINFO's ipi_addr is the datagram's destination
// (Windows has no ipi_spec_dst), which for a broadcast, a subnet broadcast
// or a multicast is no address of this host: kAnyAddress then, and the
// route chooses the source as for any reply.
std::uint32_t localAddressOf(SOCKET socket, WSAMSG& message) noexcept {
    for (WSACMSGHDR* item = WSA_CMSG_FIRSTHDR(&message); item != nullptr;
         item = WSA_CMSG_NXTHDR(&message, item)) {
        if (item->cmsg_level != IPPROTO_IP || item->cmsg_type != IP_PKTINFO) continue;
        IN_PKTINFO info{};
        std::memcpy(&info, WSA_CMSG_DATA(item), sizeof info);
        const std::uint32_t address = ntohl(info.ipi_addr.s_addr);
        return isOwnUnicastAddress(socket, address) ? address : kAnyAddress;
    }
    return kAnyAddress;
}

}  // namespace

bool SocketLibrary::start(SocketFaults* faults) noexcept {
    if (started_) return true;
    if (injectedError(faults, SocketCall::startLibrary) != 0) return false;
    WSADATA data{};
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    return started_;
}

SocketLibrary::~SocketLibrary() {
    if (started_) WSACleanup();
}

bool resolveIpv4(const char* hostName, std::uint32_t& address) noexcept {
    return resolveIpv4Address(hostName, address);
}

bool Socket::openStream() noexcept {
    close();
    descriptor_ = static_cast<NativeSocket>(
        unlessInjected(faults_, SocketCall::open, [] { return openSocket(SOCK_STREAM, IPPROTO_TCP); }));
    return isValid();
}

bool Socket::openDatagram() noexcept {
    close();
    descriptor_ = static_cast<NativeSocket>(
        unlessInjected(faults_, SocketCall::open, [] { return openSocket(SOCK_DGRAM, IPPROTO_UDP); }));
    if (!isValid()) return false;
    const DWORD on = 1;
    ::setsockopt(toSocket(descriptor_), IPPROTO_IP, IP_PKTINFO, reinterpret_cast<const char*>(&on),
                 sizeof on);
    // Datagram sockets leave nothing behind when closed: exclusive use keeps
    // every other socket off the port, its single addresses included,
    // without holding up a restart.
    ::setsockopt(toSocket(descriptor_), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
                 sizeof on);
    return true;
}

bool Socket::setNonBlocking() noexcept {
    return unlessInjected(faults_, SocketCall::setNonBlocking,
                          [this] { return makeNonBlocking(toSocket(descriptor_)) ? 0 : SOCKET_ERROR; }) == 0;
}

bool Socket::setOption(SocketOption option, int value) noexcept {
    // A listener restarts past its closed connections with Windows' default
    // binding rules, and nothing is set for it. SO_REUSEADDR would let any
    // other program bind the same port and take its traffic;
    // SO_EXCLUSIVEADDRUSE would fail the restart's bind for as long as a
    // connection this server accepted lingers (TIME_WAIT). Without either,
    // a second bind of the port fails (WSAEADDRINUSE, or WSAEACCES with
    // SO_REUSEADDR); only a program of the same user may still bind one
    // specific address of a listener on every address.
    if (option == SocketOption::reuseAddress) return true;
    const OptionName which = optionName(option);
    return ::setsockopt(toSocket(descriptor_), which.level, which.name,
                        reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

bool Socket::setKeepAlive(int idleSeconds, int intervalSeconds, int probes) noexcept {
    tcp_keepalive timing{1, static_cast<ULONG>(idleSeconds) * 1000u, static_cast<ULONG>(intervalSeconds) * 1000u};
    DWORD returned = 0;
    if (::WSAIoctl(toSocket(descriptor_), SIO_KEEPALIVE_VALS, &timing, sizeof timing, nullptr, 0, &returned,
                   nullptr, nullptr) != 0) {
        return false;
    }
    // TCP_KEEPCNT (Windows 10 1703 and later; older systems refuse it and
    // send 10 probes). The SDK's value; mingw-w64's headers lack the name.
    constexpr int kTcpKeepCount = 16;
    ::setsockopt(toSocket(descriptor_), IPPROTO_TCP, kTcpKeepCount, reinterpret_cast<const char*>(&probes),
                 sizeof probes);
    return true;
}

BindResult Socket::bind(const Ipv4Endpoint& local) noexcept {
    const sockaddr_in record = toSockaddr(local);
    if (unlessInjected(faults_, SocketCall::bind, [&] {
            return ::bind(toSocket(descriptor_), reinterpret_cast<const sockaddr*>(&record), sizeof record);
        }) == 0) {
        return BindResult::ok;
    }
    switch (WSAGetLastError()) {
        case WSAEACCES: return BindResult::noPermission;
        case WSAEADDRINUSE: return BindResult::addressInUse;
        default: return BindResult::addressUnavailable;
    }
}

bool Socket::listen(int backlog) noexcept {
    if (unlessInjected(faults_, SocketCall::listen, [&] { return ::listen(toSocket(descriptor_), backlog); }) !=
        0) {
        return false;
    }
    // Winsock has no descriptor numbers to duplicate: the reserve is a
    // socket of its own, which holds one of the process's socket slots.
    if (reserve_ == kInvalidSocket) reserve_ = static_cast<NativeSocket>(openSocket(SOCK_STREAM, IPPROTO_TCP));
    return true;
}

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
    const SOCKET taken = unlessInjected(faults_, SocketCall::accept, [&] {
        return ::accept(toSocket(descriptor_), reinterpret_cast<sockaddr*>(&record), &length);
    });
    if (taken == INVALID_SOCKET) {
        if (outOfDescriptors(WSAGetLastError())) dropPendingConnection();
        return Socket();
    }
    Socket accepted(static_cast<NativeSocket>(taken), faults_);
    // Accepted sockets take over the listener's mode; set it anyway, so that
    // a connection never blocks the server loop.
    if (!makeNonBlocking(taken)) return Socket();
    peer = fromSockaddr(record);
    return accepted;
}

void Socket::dropPendingConnection() noexcept {
    if (reserve_ != kInvalidSocket) ::closesocket(toSocket(reserve_));
    const SOCKET taken = ::accept(toSocket(descriptor_), nullptr, nullptr);
    if (taken != INVALID_SOCKET) ::closesocket(taken);
    reserve_ = static_cast<NativeSocket>(openSocket(SOCK_STREAM, IPPROTO_TCP));
}

long Socket::receive(void* buffer, std::size_t capacity) noexcept {
    return unlessInjected(faults_, SocketCall::receive, [&] {
        return ::recv(toSocket(descriptor_), static_cast<char*>(buffer), clampedLength(capacity), 0);
    });
}

// Windows has no SIGPIPE: a send on a reset connection fails with an error.
long Socket::send(const void* data, std::size_t length) noexcept {
    return unlessInjected(faults_, SocketCall::send, [&] {
        return ::send(toSocket(descriptor_), static_cast<const char*>(data), clampedLength(length), 0);
    });
}

long Socket::receiveFrom(void* buffer, std::size_t capacity, Ipv4Endpoint& source,
                         std::uint32_t& localAddress) noexcept {
    const SOCKET socket = toSocket(descriptor_);
    const LPFN_WSARECVMSG receiveMessageOf = receiveMessage(socket);
    if (receiveMessageOf == nullptr) return -1;
    sockaddr_in record{};
    WSABUF data{static_cast<ULONG>(clampedLength(capacity)), static_cast<char*>(buffer)};
    PacketInfoControl control{};
    WSAMSG message = datagramMessage(record, data, control);
    DWORD size = 0;
    if (unlessInjected(faults_, SocketCall::receive,
                       [&] { return receiveMessageOf(socket, &message, &size, nullptr, nullptr); }) != 0) {
        // Windows cuts an oversized datagram and reports WSAEMSGSIZE without
        // its real size: one byte beyond the capacity marks it as too large.
        if (WSAGetLastError() != WSAEMSGSIZE) return -1;
        size = static_cast<DWORD>(capacity) + 1;
    } else if ((message.dwFlags & MSG_TRUNC) != 0) {
        size = static_cast<DWORD>(capacity) + 1;
    }
    source = fromSockaddr(record);
    localAddress = localAddressOf(socket, message);
    return static_cast<long>(size);
}

long Socket::sendTo(const void* data, std::size_t length, const Ipv4Endpoint& destination,
                    std::uint32_t localAddress) noexcept {
    sockaddr_in record = toSockaddr(destination);
    WSABUF bytes{static_cast<ULONG>(clampedLength(length)), static_cast<char*>(const_cast<void*>(data))};
    PacketInfoControl control{};
    WSAMSG message = datagramMessage(record, bytes, control);
    if (localAddress == kAnyAddress) {
        message.Control = WSABUF{0, nullptr};
    } else {
        WSACMSGHDR* item = WSA_CMSG_FIRSTHDR(&message);
        item->cmsg_level = IPPROTO_IP;
        item->cmsg_type = IP_PKTINFO;
        item->cmsg_len = WSA_CMSG_LEN(sizeof(IN_PKTINFO));
        IN_PKTINFO info{};
        info.ipi_addr.s_addr = htonl(localAddress);
        std::memcpy(WSA_CMSG_DATA(item), &info, sizeof info);
    }
    DWORD sent = 0;
    if (unlessInjected(faults_, SocketCall::send, [&] {
            return WSASendMsg(toSocket(descriptor_), &message, 0, &sent, nullptr, nullptr);
        }) != 0) {
        return -1;
    }
    return static_cast<long>(sent);
}

void Socket::close() noexcept {
    if (reserve_ != kInvalidSocket) ::closesocket(toSocket(reserve_));
    reserve_ = kInvalidSocket;
    if (!isValid()) return;
    ::closesocket(toSocket(descriptor_));
    descriptor_ = kInvalidSocket;
}

// A Windows fd_set is a counted array of FD_SETSIZE handles (64 by default),
// not a bit field indexed by the handle's value: every socket of the set fits.
static_assert(FD_SETSIZE >= SocketWaitSet::kCapacity, "fd_set holds the whole wait set");

SocketWaitSet::Result SocketWaitSet::wait(std::int32_t timeoutMs) noexcept {
    readable_ = 0;
    if (const int error = injectedError(faults_, SocketCall::wait); error != 0) {
        return error == WSAEINTR ? Result::interrupted : Result::failed;
    }
    if (count_ == 0) {
        // select refuses an empty set (WSAEINVAL); nothing to wait for is a
        // plain wait, which an APC ends.
        if (timeoutMs < 0) return Result::failed;
        return SleepEx(static_cast<DWORD>(timeoutMs), TRUE) == WAIT_IO_COMPLETION ? Result::interrupted
                                                                                  : Result::timedOut;
    }
    // select cannot be interrupted: the wait runs in slices, and between two
    // of them an APC queued to this thread (what a signal is on POSIX: the
    // simulator's stop request) ends it as interrupted.
    constexpr std::int32_t kSliceMs = 100;
    std::int32_t left = timeoutMs;
    for (;;) {
        const std::int32_t slice = left < 0 || left > kSliceMs ? kSliceMs : left;
        fd_set readSet;
        FD_ZERO(&readSet);
        for (int entry = 0; entry < count_; ++entry) FD_SET(toSocket(entries_[entry]), &readSet);
        timeval limit{0, static_cast<long>(slice) * 1000L};
        // The first argument is ignored on Windows.
        const int ready = ::select(0, &readSet, nullptr, nullptr, &limit);
        if (ready > 0) {
            for (int entry = 0; entry < count_; ++entry) {
                if (FD_ISSET(toSocket(entries_[entry]), &readSet)) readable_ |= std::uint64_t{1} << entry;
            }
            return Result::ready;
        }
        if (ready < 0) return WSAGetLastError() == WSAEINTR ? Result::interrupted : Result::failed;
        if (left >= 0) {
            left -= slice;
            if (left <= 0) return Result::timedOut;
        }
        if (SleepEx(0, TRUE) == WAIT_IO_COMPLETION) return Result::interrupted;
    }
}

const char* AddressText::format(const Ipv4Endpoint& endpoint) noexcept {
    const std::uint32_t a = endpoint.address;
    std::snprintf(text_, sizeof text_, "%u.%u.%u.%u", static_cast<unsigned>(a >> 24),
                  static_cast<unsigned>(a >> 16 & 0xFFu), static_cast<unsigned>(a >> 8 & 0xFFu),
                  static_cast<unsigned>(a & 0xFFu));
    return text_;
}

}  // namespace mbslave::platform

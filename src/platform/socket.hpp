// IPv4 sockets: the only code that talks to the operating system's socket
// interface. Each Socket owns one descriptor and closes it when destroyed;
// a SocketWaitSet waits for several sockets at once; an AddressText turns a
// peer address into dotted-decimal text in a buffer of its owner. Sockets
// and wait sets take the injected failures of their owner (SocketFaults).
#pragma once

#include <cstddef>
#include <cstdint>

namespace mbslave::platform {

// Injected socket failures: lets a test make one socket operation of one
// protocol object fail with a chosen system error, the way the system would
// report it. The error number is the platform's own (errno values on POSIX,
// WSA error codes on Windows) and passes through the same mapping as a real
// failure. Unused, it costs one pointer check per operation.
// The socket operations whose failure a server must handle.
enum class SocketCall { startLibrary, open, setNonBlocking, bind, listen, accept, wait, receive, send };

class SocketFaults {
public:
    // The error the call fails with, or 0 to let the system carry it out.
    virtual int injectedError(SocketCall call) noexcept = 0;

protected:
    ~SocketFaults() = default;
};

// The injected error for `call`, 0 without faults.
inline int injectedError(SocketFaults* faults, SocketCall call) noexcept {
    return faults == nullptr ? 0 : faults->injectedError(call);
}

// An IPv4 address and port, both in host byte order.
struct Ipv4Endpoint {
    std::uint32_t address = 0;
    std::uint16_t port = 0;
};

constexpr std::uint32_t kAnyAddress = 0;

// The system's socket descriptor or handle: both fit a pointer-sized integer,
// and both systems use -1 (all bits set) for "none".
using NativeSocket = std::intptr_t;
constexpr NativeSocket kInvalidSocket = -1;


// How a bind ended.
enum class BindResult {
    ok,
    noPermission,        // the system refused this user the address or port
    addressInUse,        // another socket has the port
    addressUnavailable,  // not an address of this host, or another failure
};

enum class SocketOption { reuseAddress, noDelay, keepAlive, receiveBuffer, sendBuffer };

// Holds the system's socket library from its first successful start until
// destruction: WSAStartup and WSACleanup on Windows, nothing on POSIX. Every
// object that owns sockets holds one, declared before its sockets, and
// starts it before it opens the first.
class SocketLibrary {
public:
    SocketLibrary() noexcept = default;
    SocketLibrary(const SocketLibrary&) = delete;
    SocketLibrary& operator=(const SocketLibrary&) = delete;
    ~SocketLibrary();

    // Starts the library unless it runs already; false when the system
    // refused (or `faults` injected a failure).
    bool start(SocketFaults* faults) noexcept;

private:
    bool started_ = false;
};

// Resolves a dotted IPv4 address or a host name to its first IPv4 address.
bool resolveIpv4(const char* hostName, std::uint32_t& address) noexcept;

class Socket {
public:
    Socket() noexcept = default;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    Socket(Socket&& other) noexcept
        : descriptor_(other.descriptor_), reserve_(other.reserve_), faults_(other.faults_) {
        other.descriptor_ = kInvalidSocket;
        other.reserve_ = kInvalidSocket;
    }
    Socket& operator=(Socket&& other) noexcept {
        if (this != &other) {
            close();
            descriptor_ = other.descriptor_;
            reserve_ = other.reserve_;
            faults_ = other.faults_;
            other.descriptor_ = kInvalidSocket;
            other.reserve_ = kInvalidSocket;
        }
        return *this;
    }
    ~Socket() { close(); }

    // Takes over an open descriptor, which the Socket then closes (tests and
    // fuzzers hand in one end of a socket pair).
    static Socket adopt(NativeSocket descriptor) noexcept { return Socket(descriptor); }

    bool isValid() const noexcept { return descriptor_ != kInvalidSocket; }
    NativeSocket descriptor() const noexcept { return descriptor_; }

    // Failures to inject into this socket's operations (null: none); kept
    // across close and open, and handed on to accepted connections.
    void setFaults(SocketFaults* faults) noexcept { faults_ = faults; }

    // Creates a TCP (stream) or UDP (datagram) socket, closed on exec. A
    // datagram socket learns the local address each datagram was sent to.
    bool openStream() noexcept;
    bool openDatagram() noexcept;
    bool setNonBlocking() noexcept;
    // Sets an integer option; the result says whether the system took it.
    bool setOption(SocketOption option, int value) noexcept;
    // Turns keep-alive on with its timing: the first probe after idleSeconds
    // without traffic, then one every intervalSeconds, the connection failed
    // after `probes` unanswered ones (Windows before 10 sends 10 probes).
    // False when the system refused keep-alive itself.
    bool setKeepAlive(int idleSeconds, int intervalSeconds, int probes) noexcept;
    BindResult bind(const Ipv4Endpoint& local) noexcept;
    // Listens and sets aside a reserve descriptor for accept().
    bool listen(int backlog) noexcept;
    // Port the socket is bound to (0 if unbound or unknown).
    std::uint16_t localPort() const noexcept;

    // Takes one pending connection; the new socket is non-blocking and closed
    // on exec. An invalid socket when none could be taken. When the process
    // or the system has no descriptor left for it, the connection is taken
    // through the reserve descriptor and closed at once: left pending, it
    // would keep the listener readable and every wait would return at once.
    Socket accept(Ipv4Endpoint& peer) noexcept;

    // Receives at most `capacity` bytes without waiting: the byte count, 0
    // when the peer closed, or -1 on an error (nothing available included).
    long receive(void* buffer, std::size_t capacity) noexcept;
    // Sends without raising SIGPIPE; the byte count or -1.
    long send(const void* data, std::size_t length) noexcept;

    // One datagram: its full size, even when it was larger than `capacity`
    // and therefore cut; -1 on an error. `localAddress` is the address of
    // this host it was sent to (kAnyAddress when unknown).
    long receiveFrom(void* buffer, std::size_t capacity, Ipv4Endpoint& source,
                     std::uint32_t& localAddress) noexcept;
    // Sends one datagram from `localAddress` (kAnyAddress: the one routing
    // picks), so that a reply leaves from the address its request came to.
    long sendTo(const void* data, std::size_t length, const Ipv4Endpoint& destination,
                std::uint32_t localAddress = kAnyAddress) noexcept;

    void close() noexcept;

private:
    explicit Socket(NativeSocket descriptor, SocketFaults* faults = nullptr) noexcept
        : descriptor_(descriptor), faults_(faults) {}

    // Takes the pending connection that no descriptor was left for, through
    // the reserve, and closes it.
    void dropPendingConnection() noexcept;

    NativeSocket descriptor_ = kInvalidSocket;
    NativeSocket reserve_ = kInvalidSocket;
    SocketFaults* faults_ = nullptr;
};

// The sockets one wait watches for readability. A closed or failed
// connection counts as readable, so that its next read reports it.
class SocketWaitSet {
public:
    static constexpr int kCapacity = 33;

    enum class Result { ready, timedOut, interrupted, failed };
    // wait() without a limit.
    static constexpr std::int32_t kWithoutLimit = -1;

    void setFaults(SocketFaults* faults) noexcept { faults_ = faults; }
    void clear() noexcept {
        count_ = 0;
        readable_ = 0;
    }
    // Adds a socket; its entry index for isReadable(), -1 when full.
    int add(const Socket& socket) noexcept {
        if (count_ == kCapacity) return -1;
        entries_[count_] = socket.descriptor();
        return count_++;
    }
    // Waits at most timeoutMs milliseconds: 0 only looks, kWithoutLimit
    // waits until a socket is readable or a signal interrupts.
    Result wait(std::int32_t timeoutMs) noexcept;
    bool isReadable(int entry) const noexcept {
        return entry >= 0 && entry < count_ && (readable_ >> entry & 1u) != 0;
    }

private:
    // The watched sockets; the system's wait record is built from them in
    // wait(), which leaves one bit per readable entry in readable_.
    NativeSocket entries_[kCapacity] = {};
    int count_ = 0;
    std::uint64_t readable_ = 0;
    SocketFaults* faults_ = nullptr;
    static_assert(kCapacity <= 64, "one bit of readable_ per entry");
};

// Dotted-decimal text of an address, valid until the next format().
class AddressText {
public:
    const char* format(const Ipv4Endpoint& endpoint) noexcept;

private:
    char text_[16] = {};
};

}  // namespace mbslave::platform

// A master's end of a TCP connection on the loopback interface, with
// bounded waits, for tests that drive a server pass by pass in one thread.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstdint>
#include <vector>

namespace mbslave::test {

class LoopbackClient {
public:
    LoopbackClient() = default;
    LoopbackClient(const LoopbackClient&) = delete;
    LoopbackClient& operator=(const LoopbackClient&) = delete;
    LoopbackClient(LoopbackClient&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    ~LoopbackClient() { close(); }

    // Connects to host:port; the connection is complete once the server's
    // kernel has it in the listen backlog, before the server accepts it.
    // A source address, if given, is bound first (any 127.x.y.z works).
    bool connect(std::uint16_t port, const char* host = "127.0.0.1",
                 const char* source = nullptr) {
        close();
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0) return false;
        const int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (source != nullptr) {
            sockaddr_in local{};
            local.sin_family = AF_INET;
            ::inet_pton(AF_INET, source, &local.sin_addr);
            if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
                close();
                return false;
            }
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        ::inet_pton(AF_INET, host, &address.sin_addr);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            close();
            return false;
        }
        return true;
    }

    bool isOpen() const { return fd_ >= 0; }
    int descriptor() const { return fd_; }

    bool send(const std::vector<std::uint8_t>& bytes) {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }

    // Reads until `count` bytes arrived or timeoutMs passed without data.
    std::vector<std::uint8_t> receive(std::size_t count, int timeoutMs = 1000) {
        std::vector<std::uint8_t> bytes;
        std::uint8_t chunk[512];
        while (bytes.size() < count && waitReadable(timeoutMs)) {
            const std::size_t wanted = std::min(sizeof chunk, count - bytes.size());
            const ssize_t got = ::recv(fd_, chunk, wanted, 0);
            if (got <= 0) break;
            bytes.insert(bytes.end(), chunk, chunk + got);
        }
        return bytes;
    }

    // Everything that has arrived once the first byte is there (waiting at
    // most timeoutMs for it): a server pass sends its whole reply before it
    // returns, so on loopback this is the reply.
    std::vector<std::uint8_t> receiveAvailable(int timeoutMs = 1000) {
        std::vector<std::uint8_t> bytes;
        if (!waitReadable(timeoutMs)) return bytes;
        std::uint8_t chunk[512];
        ssize_t got;
        while ((got = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
        return bytes;
    }

    // True once the server closed the connection (end of stream or reset)
    // without a byte arriving before: a connection closed without reply.
    bool closedByPeer(int timeoutMs = 1000) {
        if (!waitReadable(timeoutMs)) return false;
        std::uint8_t byte;
        const ssize_t got = ::recv(fd_, &byte, 1, MSG_DONTWAIT);
        return got == 0 || (got < 0 && errno == ECONNRESET);
    }

    // True when nothing arrives within timeoutMs (no data and no close).
    bool isQuiet(int timeoutMs = 50) { return !waitReadable(timeoutMs); }

    // Closes with a reset instead of the orderly end of stream.
    void reset() {
        if (fd_ < 0) return;
        const linger abort{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        close();
    }

    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    bool waitReadable(int timeoutMs) {
        pollfd entry{fd_, POLLIN, 0};
        return ::poll(&entry, 1, timeoutMs) > 0;
    }

    int fd_ = -1;
};


}  // namespace mbslave::test

// A master's end of a TCP connection on the loopback interface, with
// bounded waits, for tests that drive a server pass by pass in one thread.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "support/test_sockets.hpp"

namespace mbslave::test {

class LoopbackClient {
public:
    LoopbackClient() = default;
    LoopbackClient(const LoopbackClient&) = delete;
    LoopbackClient& operator=(const LoopbackClient&) = delete;
    LoopbackClient(LoopbackClient&& other) noexcept : fd_(other.fd_) { other.fd_ = kNoTestSocket; }
    ~LoopbackClient() { close(); }

    // Connects to host:port; the connection is complete once the server's
    // kernel has it in the listen backlog, before the server accepts it.
    // A source address, if given, is bound first (any 127.x.y.z works).
    bool connect(std::uint16_t port, const char* host = "127.0.0.1",
                 const char* source = nullptr) {
        close();
        fd_ = openTestSocket(SOCK_STREAM);
        if (fd_ == kNoTestSocket) return false;
        setIntOption(fd_, IPPROTO_TCP, TCP_NODELAY, 1);
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

    bool isOpen() const { return fd_ != kNoTestSocket; }
    TestSocket descriptor() const { return fd_; }

    bool send(const std::vector<std::uint8_t>& bytes) {
        return sendBytes(fd_, bytes.data(), bytes.size()) == static_cast<long>(bytes.size());
    }

    // Reads until `count` bytes arrived or timeoutMs passed without data.
    std::vector<std::uint8_t> receive(std::size_t count, int timeoutMs = 1000) {
        std::vector<std::uint8_t> bytes;
        std::uint8_t chunk[512];
        while (bytes.size() < count && waitReadable(timeoutMs)) {
            const std::size_t wanted = std::min(sizeof chunk, count - bytes.size());
            const long got = receiveBytes(fd_, chunk, wanted);
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
        long got;
        while ((got = receiveQueued(fd_, chunk, sizeof chunk)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
        return bytes;
    }

    // True once the server closed the connection (end of stream or reset)
    // without a byte arriving before: a connection closed without reply.
    bool closedByPeer(int timeoutMs = 1000) {
        if (!waitReadable(timeoutMs)) return false;
        std::uint8_t byte;
        const long got = receiveBytes(fd_, &byte, 1);
        return got == 0 || (got < 0 && wasReset());
    }

    // True when nothing arrives within timeoutMs (no data and no close).
    bool isQuiet(int timeoutMs = 50) { return !waitReadable(timeoutMs); }

    // Closes with a reset instead of the orderly end of stream.
    void reset() {
        if (!isOpen()) return;
        const linger abort{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof abort);
        close();
    }

    void close() {
        if (isOpen()) closeTestSocket(fd_);
        fd_ = kNoTestSocket;
    }

private:
    bool waitReadable(int timeoutMs) { return test::waitReadable(fd_, timeoutMs); }

    TestSocket fd_ = kNoTestSocket;
};


}  // namespace mbslave::test

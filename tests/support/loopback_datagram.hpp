// A master's UDP socket on the loopback interface, with bounded waits: sends
// to a server's port, or connects to it as a master on a connected socket
// does, and receives replies with the port they came from.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "support/test_sockets.hpp"

namespace mbslave::test {

class LoopbackDatagram {
public:
    LoopbackDatagram() : fd_(openTestSocket(SOCK_DGRAM)) {}
    LoopbackDatagram(const LoopbackDatagram&) = delete;
    LoopbackDatagram& operator=(const LoopbackDatagram&) = delete;
    ~LoopbackDatagram() {
        if (fd_ != kNoTestSocket) closeTestSocket(fd_);
    }

    // Binds to source (any 127.x.y.z) on an ephemeral port; without it the
    // first send picks 127.0.0.1 or the route's address.
    bool open(const char* source = "127.0.0.1") {
        if (fd_ == kNoTestSocket) return false;
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, source, &local.sin_addr);
        return ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
    }

    std::uint16_t localPort() const {
        sockaddr_in local{};
        socklen_t length = sizeof local;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length);
        return ntohs(local.sin_port);
    }

    bool sendTo(std::uint16_t port, const std::vector<std::uint8_t>& datagram) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return ::sendto(fd_, reinterpret_cast<const char*>(datagram.data()), static_cast<int>(datagram.size()), 0,
                        reinterpret_cast<sockaddr*>(&address), sizeof address) ==
               static_cast<int>(datagram.size());
    }

    // Connects to host:port: from then on only datagrams from there arrive.
    bool connectTo(const char* host, std::uint16_t port) {
        sockaddr_in server{};
        server.sin_family = AF_INET;
        server.sin_port = htons(port);
        ::inet_pton(AF_INET, host, &server.sin_addr);
        return ::connect(fd_, reinterpret_cast<sockaddr*>(&server), sizeof server) == 0;
    }

    bool send(const std::vector<std::uint8_t>& datagram) {
        return sendBytes(fd_, datagram.data(), datagram.size()) == static_cast<long>(datagram.size());
    }

    // The next datagram within timeoutMs, with the port it came from;
    // nothing when none arrived.
    std::optional<std::vector<std::uint8_t>> receive(int timeoutMs = 1000, std::uint16_t* fromPort = nullptr) {
        if (!waitReadable(fd_, timeoutMs)) return std::nullopt;
        std::vector<std::uint8_t> datagram(65536);
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const int got = ::recvfrom(fd_, reinterpret_cast<char*>(datagram.data()), static_cast<int>(datagram.size()),
                                   0, reinterpret_cast<sockaddr*>(&from), &length);
        if (got < 0) return std::nullopt;
        datagram.resize(static_cast<std::size_t>(got));
        if (fromPort != nullptr) *fromPort = ntohs(from.sin_port);
        return datagram;
    }

    // True when no datagram is waiting within timeoutMs.
    bool isQuiet(int timeoutMs = 0) { return !waitReadable(fd_, timeoutMs); }

    TestSocket descriptor() const { return fd_; }

private:
    TestSocket fd_;
};

}  // namespace mbslave::test

// A master's UDP socket on the loopback interface, with bounded waits.
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

    bool sendTo(std::uint16_t port, const std::vector<std::uint8_t>& datagram) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return ::sendto(fd_, reinterpret_cast<const char*>(datagram.data()), static_cast<int>(datagram.size()), 0,
                        reinterpret_cast<sockaddr*>(&address), sizeof address) ==
               static_cast<int>(datagram.size());
    }

    // The next datagram, or nothing within timeoutMs.
    std::optional<std::vector<std::uint8_t>> receive(int timeoutMs = 1000) {
        if (!waitReadable(fd_, timeoutMs)) return std::nullopt;
        std::vector<std::uint8_t> datagram(2048);
        const long got = receiveBytes(fd_, datagram.data(), datagram.size());
        if (got < 0) return std::nullopt;
        datagram.resize(static_cast<std::size_t>(got));
        return datagram;
    }

    TestSocket descriptor() const { return fd_; }

private:
    TestSocket fd_;
};

}  // namespace mbslave::test

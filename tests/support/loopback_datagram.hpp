// A master's UDP socket on the loopback interface, with bounded waits.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace mbslave::test {

class LoopbackDatagram {
public:
    LoopbackDatagram() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    LoopbackDatagram(const LoopbackDatagram&) = delete;
    LoopbackDatagram& operator=(const LoopbackDatagram&) = delete;
    ~LoopbackDatagram() {
        if (fd_ >= 0) ::close(fd_);
    }

    bool sendTo(std::uint16_t port, const std::vector<std::uint8_t>& datagram) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return ::sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&address),
                        sizeof address) == static_cast<ssize_t>(datagram.size());
    }

    // The next datagram, or nothing within timeoutMs.
    std::optional<std::vector<std::uint8_t>> receive(int timeoutMs = 1000) {
        pollfd entry{fd_, POLLIN, 0};
        if (::poll(&entry, 1, timeoutMs) <= 0) return std::nullopt;
        std::vector<std::uint8_t> datagram(2048);
        const ssize_t got = ::recv(fd_, datagram.data(), datagram.size(), 0);
        if (got < 0) return std::nullopt;
        datagram.resize(static_cast<std::size_t>(got));
        return datagram;
    }

    int descriptor() const { return fd_; }

private:
    int fd_;
};

}  // namespace mbslave::test

// Conversions between Ipv4Endpoint and the system's sockaddr_in, and name
// resolution: the same BSD socket calls on POSIX and in Winsock. Included
// by the socket files after their system headers, which declare them.
#pragma once

#include <cstring>

#include "platform/socket.hpp"

namespace mbslave::platform {

inline sockaddr_in toSockaddr(const Ipv4Endpoint& endpoint) noexcept {
    sockaddr_in record{};
    record.sin_family = AF_INET;
    record.sin_port = htons(endpoint.port);
    record.sin_addr.s_addr = htonl(endpoint.address);
    return record;
}

inline Ipv4Endpoint fromSockaddr(const sockaddr_in& record) noexcept {
    return Ipv4Endpoint{ntohl(record.sin_addr.s_addr), ntohs(record.sin_port)};
}

// A dotted IPv4 address, else the first IPv4 address of a host name.
inline bool resolveIpv4Address(const char* hostName, std::uint32_t& address) noexcept {
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

}  // namespace mbslave::platform

// The stream server fuzz harness shared by the connection kinds: one end of
// a socket pair sits in the server's first connection slot, the fuzz input
// is cut into chunks that arrive on it, and each chunk is followed by
// exactly one server pass. Every reply must be well framed, the counters
// consistent, and the connection given back once the master leaves.
//
// Input: flags (bit 0: exception replies disabled; further bits for the
// kind), then chunks: a length byte n and n bytes; n = 0 makes the master
// reset the connection and connect again.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/rtu_frame_bytes.hpp"
#include "fuzzed_ip_server.hpp"
#include "ip/tcp_protocol.hpp"
#include "support/permissive_table.hpp"

namespace mbslave::fuzz {

// The server with one connection made from a socket pair instead of accept.
template <typename Protocol>
class PairedServer : public Protocol {
public:
    using Protocol::Protocol;

    // The master's end of a new connection in the lowest free slot, or -1.
    int connectMaster() {
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0) return -1;
        for (int slot = 0; slot < kMaxConnections; ++slot) {
            if (this->connectionSockets[slot].isValid()) continue;
            this->connectionSockets[slot] = platform::Socket::adopt(ends[0]);
            this->peerAddresses[slot] = platform::Ipv4Endpoint{0x7F000001, 50200};
            this->connectionTimers[slot].start(this->connectionTimeOut, this->now());
            // As after accept: a transport that cannot take it closes it.
            if (!this->admitConnection(slot)) this->closeConnection(slot);
            return ends[1];
        }
        ::close(ends[0]);
        ::close(ends[1]);
        return -1;
    }
};

// Checks that replies read from the master's end are whole, well-framed
// replies; returns the first problem found.
using ReplyCheck = const char* (*)(const std::uint8_t* bytes, long length);

inline const char* checkMbapReplies(const std::uint8_t* bytes, long length) {
    while (length > 0) {
        if (length < 9) return "partial MBAP reply";
        if (bytes[2] != 0 || bytes[3] != 0) return "reply with a protocol identifier other than 0";
        const int replyLength = (bytes[4] << 8) | bytes[5];
        if (replyLength < 3 || replyLength > kMaxFrameLength) return "MBAP reply length out of range";
        if (replyLength + 6 > length) return "MBAP reply shorter than its length field";
        bytes += replyLength + 6;
        length -= replyLength + 6;
    }
    return nullptr;
}

// At most one RTU reply leaves per pass, so what one pass sent is one frame.
inline const char* checkRtuReply(const std::uint8_t* bytes, long length) {
    if (length == 0) return nullptr;
    if (length < 5 || length > kMaxFrameLength + 2) return "RTU reply length out of range";
    if (!hasValidCrc16(bytes, static_cast<int>(length))) return "RTU reply with a wrong CRC";
    return nullptr;
}

inline const char* drainReplies(int master, ReplyCheck check) {
    static std::uint8_t replies[1 << 16];
    long length = 0;
    long got;
    while (length < static_cast<long>(sizeof replies) &&
           (got = ::recv(master, replies + length, sizeof replies - static_cast<std::size_t>(length), 0)) > 0) {
        length += got;
    }
    return check(replies, length);
}

// After the master closed, the server serves what it had queued (at least
// bytesPerPass of it per pass: a 4-byte frame) and then closes its end.
template <typename Protocol>
bool awaitMasterLeft(Protocol& server, std::size_t bytesSent, std::size_t bytesPerPass = 4) {
    for (std::size_t passes = 0; server.connectionCount() != 0 && passes <= bytesSent / bytesPerPass + 1;
         ++passes) {
        server.serverLoop();
    }
    return server.connectionCount() == 0;
}

// Runs the input against a PairedServer of the kind, already made (and
// configured from the flags) by the caller; bytesPerPass as for
// awaitMasterLeft.
template <typename Server>
const char* runStream(Server& server, const std::uint8_t* data, std::size_t size, ReplyCheck check,
                      test::PermissiveTable& table, std::size_t bytesPerPass = 4) {
    if (size < 1) return nullptr;
    if (!startFuzzedIpServer(server, table, data[0])) return nullptr;

    const char* problem = nullptr;
    int master = server.connectMaster();
    std::size_t at = 1;
    while (problem == nullptr && at < size && master >= 0) {
        const std::size_t chunk = data[at++];
        if (chunk == 0 || server.connectionCount() == 0) {
            ::close(master);
            if (!awaitMasterLeft(server, size, bytesPerPass)) return "connection kept after the master left";
            master = server.connectMaster();
            if (chunk == 0) continue;
        }
        const std::size_t length = chunk < size - at ? chunk : size - at;
        if (length > 0 && ::send(master, data + at, length, MSG_NOSIGNAL) != static_cast<ssize_t>(length)) {
            return "send on the socket pair failed";
        }
        at += length;
        if (server.serverLoop() != MB_OK) problem = "pass failed";
        if (problem == nullptr) problem = drainReplies(master, check);
        if (problem == nullptr && server.getSuccessCounter() > server.getTotalCounter()) {
            problem = "more requests served than received";
        }
        if (problem == nullptr && table.bracketBroken) problem = "data access outside a lock bracket";
    }
    if (master >= 0) ::close(master);
    if (problem == nullptr && !awaitMasterLeft(server, size, bytesPerPass)) problem = "connection kept after the master left";
    return problem;
}

}  // namespace mbslave::fuzz

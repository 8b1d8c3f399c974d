// The UDP server fed with datagrams from a loopback socket, one server pass
// per datagram. Every reply must be one well-framed datagram answering the
// datagram just sent, and the counters consistent.
//
// Input: flags (bit 0: exception replies disabled), then datagrams: a
// length byte n and n bytes; n = 255 is followed by a byte m and makes a
// datagram of 255 + m bytes (beyond the largest frame), padded with 0x00.
#include <memory>
#include <vector>

#include "fuzz_entries.hpp"
#include "fuzzed_ip_server.hpp"
#include "ip/udp_protocol.hpp"
#include "support/loopback_datagram.hpp"
#include "support/permissive_table.hpp"

namespace mbslave::fuzz {

namespace {

constexpr std::size_t kLongDatagram = 255;
const char* checkReply(const std::vector<std::uint8_t>& request, const std::vector<std::uint8_t>& reply) {
    if (reply.size() < 9 || reply.size() > kMbapFrameCapacity) return "reply size out of range";
    if (request.size() < 2 || reply[0] != request[0] || reply[1] != request[1]) return "transaction not echoed";
    if (reply[2] != 0 || reply[3] != 0) return "reply with a protocol identifier other than 0";
    if (static_cast<std::size_t>((reply[4] << 8) | reply[5]) + 6 != reply.size()) return "length field wrong";
    if (reply[6] != request[6]) return "unit identifier changed";
    return nullptr;
}

}  // namespace

const char* udpDatagramEntry(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return nullptr;
    auto server = std::make_unique<UdpProtocol>();
    test::PermissiveTable table;
    if (!startFuzzedIpServer(*server, table, data[0])) return nullptr;
    const std::uint16_t port = server->boundPort();
    test::LoopbackDatagram master;

    std::size_t at = 1;
    while (at < size) {
        std::size_t length = data[at++];
        if (length == kLongDatagram && at < size) length += data[at++];
        std::vector<std::uint8_t> datagram(data + at, data + at + std::min(length, size - at));
        datagram.resize(length, 0x00);
        at += std::min(length, size - at);
        if (!master.sendTo(port, datagram)) return "sendto failed";

        const std::uint32_t totalBefore = server->getTotalCounter();
        if (server->serverLoop() != MB_OK) return "pass failed";
        const std::optional<std::vector<std::uint8_t>> reply = master.receive(0);
        if (reply) {
            if (const char* problem = checkReply(datagram, *reply)) return problem;
            if (server->getTotalCounter() != totalBefore + 1) return "reply to a datagram not counted";
        }
        if (master.receive(0)) return "more than one reply to a datagram";
        if (server->getSuccessCounter() > server->getTotalCounter()) return "more requests served than received";
        if (table.bracketBroken) return "data access outside a lock bracket";
    }
    return nullptr;
}

}  // namespace mbslave::fuzz

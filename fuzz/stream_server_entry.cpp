// Modbus/TCP and RTU over TCP servers fed through one connection: one end
// of a socket pair sits in the server's first connection slot, the fuzz
// input is cut into chunks that arrive on it, and each chunk is followed by
// exactly one server pass. Every reply must be well framed, the counters
// consistent, and the connection given back once the master leaves.
//
// Input: flags (bit 0: exception replies disabled), then chunks: a length
// byte n and n bytes; n = 0 makes the master reset the connection and
// connect again.
#include <memory>

#include "fuzz_entries.hpp"
#include "ip/rtu_over_tcp_protocol.hpp"
#include "stream_server.hpp"

namespace mbslave::fuzz {

namespace {

template <typename Protocol>
const char* runStreamOf(const std::uint8_t* data, std::size_t size, ReplyCheck check) {
    auto server = std::make_unique<PairedServer<Protocol>>();
    test::PermissiveTable table;
    return runStream(*server, data, size, check, table);
}

}  // namespace

const char* tcpStreamEntry(const std::uint8_t* data, std::size_t size) {
    return runStreamOf<TcpProtocol>(data, size, &checkMbapReplies);
}

const char* rtuOverTcpStreamEntry(const std::uint8_t* data, std::size_t size) {
    return runStreamOf<RtuOverTcpProtocol>(data, size, &checkRtuReply);
}

}  // namespace mbslave::fuzz

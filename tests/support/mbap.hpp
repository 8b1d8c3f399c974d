// MBAP framing as a Modbus/TCP or UDP master sees it.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "support/loopback_client.hpp"

namespace mbslave::test {

// Header (the given protocol identifier, a length matching the request
// unless one is forced) followed by the request (unit identifier and PDU).
inline std::vector<std::uint8_t> mbapFrame(std::uint16_t transactionId,
                                           const std::vector<std::uint8_t>& request,
                                           int forcedLength = -1, std::uint16_t protocolId = 0) {
    const int length = forcedLength >= 0 ? forcedLength : static_cast<int>(request.size());
    std::vector<std::uint8_t> frame{
        static_cast<std::uint8_t>(transactionId >> 8), static_cast<std::uint8_t>(transactionId),
        static_cast<std::uint8_t>(protocolId >> 8),    static_cast<std::uint8_t>(protocolId),
        static_cast<std::uint8_t>(length >> 8),        static_cast<std::uint8_t>(length)};
    // Appended byte by byte: gcc 12 misreads a range insert into a short
    // vector as an out-of-bounds copy (-Werror=array-bounds).
    for (const std::uint8_t byte : request) frame.push_back(byte);
    return frame;
}

// The same with the unit identifier given apart from the PDU.
inline std::vector<std::uint8_t> mbapFrame(std::uint16_t transactionId, std::uint8_t unit,
                                           const std::vector<std::uint8_t>& pdu,
                                           std::uint16_t protocolId = 0, int forcedLength = -1) {
    std::vector<std::uint8_t> request{unit};
    for (const std::uint8_t byte : pdu) request.push_back(byte);
    return mbapFrame(transactionId, request, forcedLength, protocolId);
}

// The reply to transactionId without its header, or nothing when the header
// did not arrive, does not match or announces more than arrived.
inline std::optional<std::vector<std::uint8_t>> readMbapReply(LoopbackClient& master,
                                                              std::uint16_t transactionId,
                                                              int timeoutMs = 1000) {
    const std::vector<std::uint8_t> header = master.receive(6, timeoutMs);
    if (header.size() != 6) return std::nullopt;
    const int length = (header[4] << 8) | header[5];
    if (((header[0] << 8) | header[1]) != transactionId || header[2] != 0 || header[3] != 0 ||
        length < 1) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> body = master.receive(static_cast<std::size_t>(length), timeoutMs);
    if (body.size() != static_cast<std::size_t>(length)) return std::nullopt;
    return body;
}

}  // namespace mbslave::test

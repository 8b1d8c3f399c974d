// MBAP framing as a Modbus/TCP or UDP master sees it.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "support/loopback_client.hpp"

namespace mbslave::test {

// Header (length matching the request unless forced) followed by the
// request (slave address and PDU).
inline std::vector<std::uint8_t> mbapFrame(std::uint16_t transactionId,
                                           const std::vector<std::uint8_t>& request,
                                           int forcedLength = -1) {
    const int length = forcedLength >= 0 ? forcedLength : static_cast<int>(request.size());
    std::vector<std::uint8_t> frame{static_cast<std::uint8_t>(transactionId >> 8),
                                    static_cast<std::uint8_t>(transactionId),
                                    0,
                                    0,
                                    static_cast<std::uint8_t>(length >> 8),
                                    static_cast<std::uint8_t>(length)};
    frame.insert(frame.end(), request.begin(), request.end());
    return frame;
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

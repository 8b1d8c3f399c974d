// The MBAP header that frames Modbus requests and replies on TCP and in UDP
// datagrams: transaction identifier, protocol identifier (0), length of what
// follows (unit identifier and PDU), all big-endian.
#pragma once

#include <cstdint>

#include "engine/wire_format.hpp"

namespace mbslave::mbap {

constexpr int kHeaderLength = 6;
constexpr int kTransactionIdOffset = 0;
constexpr int kProtocolIdOffset = 2;
constexpr int kLengthOffset = 4;

// The request length (unit identifier and PDU, possibly 0) a received
// header announces; -1 for a header this server does not take: another
// protocol than Modbus, or a header and request beyond frameCapacity bytes.
inline int requestLength(const std::uint8_t* header, int frameCapacity) noexcept {
    const int length = wire::readU16(header + kLengthOffset);
    if (length + kHeaderLength > frameCapacity) return -1;
    if (wire::readU16(header + kProtocolIdOffset) != 0) return -1;
    return length;
}

inline std::uint16_t transactionId(const std::uint8_t* header) noexcept {
    return wire::readU16(header + kTransactionIdOffset);
}

// Turns the request's header into the header of a reply of replyLength
// bytes (the transaction identifier stays); the length of header and reply.
inline int encodeReply(std::uint8_t* header, int replyLength) noexcept {
    wire::writeU16(header + kProtocolIdOffset, 0);
    wire::writeU16(header + kLengthOffset, static_cast<std::uint16_t>(replyLength));
    return kHeaderLength + replyLength;
}

}  // namespace mbslave::mbap

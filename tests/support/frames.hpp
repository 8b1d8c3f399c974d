// Request frames as a master puts them on the wire, one builder per
// framing, written independently of the library's routines: RTU (message
// and CRC-16), ASCII (":", hexadecimal digits with the LRC, CR LF). The
// MBAP header's builders are in support/mbap.hpp.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace mbslave::test {

// A message: slave address and PDU, or a whole frame.
using Bytes = std::vector<std::uint8_t>;

// CRC-16 (polynomial 0xA001 reflected, start 0xFFFF) bit by bit.
inline std::uint16_t crcOf(const Bytes& message) {
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t byte : message) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) != 0 ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

// The message with its CRC appended, low byte first.
inline Bytes withCrc(Bytes message) {
    const std::uint16_t crc = crcOf(message);
    message.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    message.push_back(static_cast<std::uint8_t>(crc >> 8));
    return message;
}

// Slave address and PDU followed by their CRC.
inline Bytes rtuFrame(std::uint8_t address, const Bytes& pdu) {
    Bytes message{address};
    message.insert(message.end(), pdu.begin(), pdu.end());
    return withCrc(message);
}

inline std::string hexDigits(const Bytes& bytes) {
    std::string digits;
    char pair[3];
    for (std::uint8_t byte : bytes) {
        std::snprintf(pair, sizeof pair, "%02X", byte);
        digits += pair;
    }
    return digits;
}

inline std::uint8_t lrcOf(const Bytes& message) {
    int sum = 0;
    for (std::uint8_t byte : message) sum += byte;
    return static_cast<std::uint8_t>((256 - sum % 256) % 256);
}

// ":" + message and LRC in hexadecimal digits + CR LF.
inline std::string asciiFrame(const Bytes& message) {
    Bytes withLrc = message;
    withLrc.push_back(lrcOf(message));
    return ":" + hexDigits(withLrc) + "\r\n";
}

}  // namespace mbslave::test

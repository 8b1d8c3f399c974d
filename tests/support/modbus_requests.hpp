// Modbus requests as a master builds them (slave address first, no framing)
// and the replies a PermissiveTable gives to reads, for tests that drive a
// server through any transport.
#pragma once

#include <cstdint>
#include <vector>

#include "support/frames.hpp"
#include "support/permissive_table.hpp"

namespace mbslave::test {

inline std::uint8_t highByte(int value) { return static_cast<std::uint8_t>(value >> 8); }
inline std::uint8_t lowByte(int value) { return static_cast<std::uint8_t>(value); }

// Read request of function code 1 to 4.
inline Bytes readRequest(std::uint8_t unit, std::uint8_t functionCode, int start, int quantity) {
    return {unit, functionCode, highByte(start), lowByte(start), highByte(quantity), lowByte(quantity)};
}

// What a PermissiveTable answers to readRequest(unit, functionCode, start, quantity).
inline Bytes readReply(std::uint8_t unit, std::uint8_t functionCode, int start, int quantity) {
    Bytes reply{unit, functionCode};
    const int reference = start + 1;
    if (functionCode == 3 || functionCode == 4) {
        reply.push_back(static_cast<std::uint8_t>(2 * quantity));
        for (int i = 0; i < quantity; ++i) {
            const std::uint16_t value = functionCode == 3 ? PermissiveTable::holdingValue(reference + i)
                                                          : PermissiveTable::inputValue(reference + i);
            reply.push_back(highByte(value));
            reply.push_back(lowByte(value));
        }
        return reply;
    }
    reply.push_back(static_cast<std::uint8_t>((quantity + 7) / 8));
    for (int i = 0; i < quantity; ++i) {
        if (i % 8 == 0) reply.push_back(0);
        const bool on = functionCode == 1 ? PermissiveTable::coilValue(reference + i)
                                          : PermissiveTable::discreteValue(reference + i);
        if (on) reply.back() = static_cast<std::uint8_t>(reply.back() | (1 << (i % 8)));
    }
    return reply;
}

inline Bytes exceptionReply(std::uint8_t unit, std::uint8_t functionCode, std::uint8_t code) {
    return {unit, static_cast<std::uint8_t>(functionCode | 0x80), code};
}

// One well-formed request of every served function code, each accepted by a
// PermissiveTable.
inline std::vector<Bytes> validRequestPerFunctionCode(std::uint8_t unit) {
    return {
        readRequest(unit, 1, 0x10, 10),
        readRequest(unit, 2, 0x10, 10),
        readRequest(unit, 3, 0, 10),
        readRequest(unit, 4, 0, 10),
        {unit, 5, 0x00, 0x01, 0xFF, 0x00},
        {unit, 6, 0x00, 0x01, 0x12, 0x34},
        {unit, 7},
        {unit, 8, 0x00, 0x00, 0x12, 0x34},
        {unit, 15, 0x00, 0x00, 0x00, 0x0A, 0x02, 0xFF, 0x03},
        {unit, 16, 0x00, 0x00, 0x00, 0x02, 0x04, 0x00, 0x01, 0x00, 0x02},
        {unit, 17},
        {unit, 20, 0x07, 0x06, 0x00, 0x01, 0x00, 0x02, 0x00, 0x02},
        {unit, 21, 0x0B, 0x06, 0x00, 0x01, 0x00, 0x02, 0x00, 0x02, 0x00, 0x01, 0x00, 0x02},
        {unit, 22, 0x00, 0x01, 0x00, 0xF2, 0x00, 0x25},
        {unit, 23, 0x00, 0x00, 0x00, 0x02, 0x00, 0x10, 0x00, 0x01, 0x02, 0x12, 0x34},
        {unit, 43, 0x0E, 0x01, 0x00},
    };
}

}  // namespace mbslave::test

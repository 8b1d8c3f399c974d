// CRC-16 of Modbus RTU frames (CRC-16/MODBUS): reflected polynomial 0xA001,
// initial value 0xFFFF, no final exclusive-or. Frames carry it low byte first.
#pragma once

#include <cstdint>

namespace mbslave {

constexpr int kCrcLength = 2;

// CRC over bytes[0..length); 0xFFFF for length 0 or less.
std::uint16_t crc16(const std::uint8_t* bytes, int length) noexcept;

// Appends the CRC of frame[0..length) at frame[length], low byte first;
// frame must have room for length + 2 bytes. Returns length + 2.
int appendCrc16(std::uint8_t* frame, int length) noexcept;

// True when the last two of length bytes (length >= 2) are the CRC of the
// bytes before them.
bool hasValidCrc16(const std::uint8_t* frame, int length) noexcept;

}  // namespace mbslave

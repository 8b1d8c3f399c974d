// The bytes of a Modbus RTU frame, shared by serial RTU and RTU over TCP:
// its check (CRC-16) and where a request ends as far as its own bytes tell.
#pragma once

#include <cstdint>

namespace mbslave {

// CRC-16 of Modbus RTU frames (CRC-16/MODBUS): reflected polynomial 0xA001,
// initial value 0xFFFF, no final exclusive-or. Frames carry it low byte first.
constexpr int kCrcLength = 2;

// CRC over bytes[0..length); 0xFFFF for length 0 or less.
std::uint16_t crc16(const std::uint8_t* bytes, int length) noexcept;

// Appends the CRC of frame[0..length) at frame[length], low byte first;
// frame must have room for length + 2 bytes. Returns length + 2.
int appendCrc16(std::uint8_t* frame, int length) noexcept;

// True when the last two of length bytes (length >= 2) are the CRC of the
// bytes before them.
bool hasValidCrc16(const std::uint8_t* frame, int length) noexcept;

// Where a Modbus RTU request ends, as far as its own bytes tell: the length
// rules of serial RTU and of RTU frames in a TCP byte stream, in one place.
enum class RtuLengthRules {
    // A serial line ends every frame by silence; the length rules only let
    // the common requests end as soon as their last byte is in: reads and
    // writes of bits and registers, mask write, read/write registers, and
    // Read Exception Status at 6 bytes (its standard 4-byte request ends by
    // silence).
    serialLine,
    // A byte stream has no silence: every request whose bytes tell its
    // length ends there, 4-byte requests included.
    byteStream,
};

// The length is told by bytes that have not arrived yet.
constexpr int kRtuLengthPending = 0;
// The request does not tell its length (Diagnostics, unknown codes,
// exception codes): it ends by silence, or where the bytes received end.
constexpr int kRtuLengthUntold = -1;

// Length, CRC included, of the request whose first `count` bytes are in
// frame (slave address, function code, data): above 0 once the bytes that
// tell it are in (it may be larger than any buffer), kRtuLengthPending or
// kRtuLengthUntold. Reads nothing at or beyond frame[count].
int rtuRequestLength(const std::uint8_t* frame, int count, RtuLengthRules rules) noexcept;

}  // namespace mbslave

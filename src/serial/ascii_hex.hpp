// Hexadecimal digits and LRC of Modbus ASCII frames. Digits are 0-9 and
// upper-case A-F only.
#pragma once

#include <cstdint>

namespace mbslave {

// The low four bits of value as an upper-case digit.
constexpr char nibbleToHex(unsigned value) noexcept {
    const unsigned nibble = value & 0x0F;
    return static_cast<char>(nibble < 10 ? '0' + nibble : 'A' + (nibble - 10));
}

// 0..15 for a digit, -1 for any other character (lower case included).
constexpr int hexToNibble(std::uint8_t character) noexcept {
    if (character >= '0' && character <= '9') return character - '0';
    if (character >= 'A' && character <= 'F') return character - 'A' + 10;
    return -1;
}

// The byte two digits denote, or -1 when either is not a digit.
constexpr int hexPairToByte(std::uint8_t high, std::uint8_t low) noexcept {
    const int highValue = hexToNibble(high);
    const int lowValue = hexToNibble(low);
    if (highValue < 0 || lowValue < 0) return -1;
    return highValue * 16 + lowValue;
}

// Longitudinal redundancy check: the two's complement of the 8-bit sum, so
// that the bytes and their LRC add up to 0 modulo 256.
inline std::uint8_t lrc(const std::uint8_t* bytes, int length) noexcept {
    unsigned sum = 0;
    for (int i = 0; i < length; ++i) sum += bytes[i];
    return static_cast<std::uint8_t>(-sum);
}

}  // namespace mbslave

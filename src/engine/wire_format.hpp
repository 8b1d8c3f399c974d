// Conversions between the big-endian, bit-packed wire form of Modbus frames
// and the host-order values and one-byte-per-bit arrays of the data tables.
#pragma once

#include <cstdint>
#include <cstring>

namespace mbslave::wire {

inline std::uint16_t readU16(const std::uint8_t* at) noexcept {
    return static_cast<std::uint16_t>((at[0] << 8) | at[1]);
}

inline std::uint32_t readU32(const std::uint8_t* at) noexcept {
    return (std::uint32_t{at[0]} << 24) | (std::uint32_t{at[1]} << 16) |
           (std::uint32_t{at[2]} << 8) | std::uint32_t{at[3]};
}

// Quantities are 16-bit fields taken as signed, so 0x8000 and above are
// negative and fail every range check.
inline int readQuantity(const std::uint8_t* at) noexcept {
    return static_cast<std::int16_t>(readU16(at));
}

inline void writeU16(std::uint8_t* at, std::uint16_t value) noexcept {
    at[0] = static_cast<std::uint8_t>(value >> 8);
    at[1] = static_cast<std::uint8_t>(value);
}

inline void writeU32(std::uint8_t* at, std::uint32_t value) noexcept {
    at[0] = static_cast<std::uint8_t>(value >> 24);
    at[1] = static_cast<std::uint8_t>(value >> 16);
    at[2] = static_cast<std::uint8_t>(value >> 8);
    at[3] = static_cast<std::uint8_t>(value);
}

inline void readRegisters(const std::uint8_t* from, std::uint16_t* values, int count) noexcept {
    for (int i = 0; i < count; ++i) values[i] = readU16(from + 2 * i);
}

inline void writeRegisters(std::uint8_t* to, const std::uint16_t* values, int count) noexcept {
    for (int i = 0; i < count; ++i) writeU16(to + 2 * i, values[i]);
}

inline void readRegisters32(const std::uint8_t* from, std::int32_t* values, int count) noexcept {
    for (int i = 0; i < count; ++i) values[i] = static_cast<std::int32_t>(readU32(from + 4 * i));
}

inline void writeRegisters32(std::uint8_t* to, const std::int32_t* values, int count) noexcept {
    for (int i = 0; i < count; ++i) writeU32(to + 4 * i, static_cast<std::uint32_t>(values[i]));
}

constexpr bool kLittleEndianHost = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

// Eight bytes, the first one in the least significant position.
inline std::uint64_t loadLittle64(const char* from) noexcept {
    std::uint64_t value = 0;
    if constexpr (kLittleEndianHost) {
        std::memcpy(&value, from, sizeof value);
    } else {
        for (int i = 0; i < 8; ++i) value |= std::uint64_t{static_cast<unsigned char>(from[i])} << (8 * i);
    }
    return value;
}

inline void storeLittle64(char* to, std::uint64_t value) noexcept {
    if constexpr (kLittleEndianHost) {
        std::memcpy(to, &value, sizeof value);
    } else {
        for (int i = 0; i < 8; ++i) to[i] = static_cast<char>(value >> (8 * i));
    }
}

// One packed byte from eight bit-array bytes (nonzero = ON, bit i from byte i):
// the high bit of each lane is set for a nonzero byte, then the multiplication
// gathers lane i's bit into bit 56 + i without carries.
inline std::uint8_t packEight(const char* bits) noexcept {
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
    constexpr std::uint64_t kLaneBit = 0x0101010101010101ULL;
    constexpr std::uint64_t kGather = 0x0102040810204080ULL;
    const std::uint64_t lanes = loadLittle64(bits);
    const std::uint64_t nonzero = ((((lanes & kLow7) + kLow7) | lanes) >> 7) & kLaneBit;
    return static_cast<std::uint8_t>((nonzero * kGather) >> 56);
}

// Eight bit-array bytes (exactly 0 or 1) from one packed byte: the byte is
// copied into every lane, lane i keeps only bit i, and adding 0x7F moves a
// set bit to the lane's high bit.
inline void unpackEight(std::uint8_t packed, char* bits) noexcept {
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
    constexpr std::uint64_t kLaneBit = 0x0101010101010101ULL;
    constexpr std::uint64_t kLaneMasks = 0x8040201008040201ULL;
    const std::uint64_t selected = (packed * kLaneBit) & kLaneMasks;
    storeLittle64(bits, ((selected + kLow7) >> 7) & kLaneBit);
}

// Packs count bit-array bytes least significant bit first into (count + 7) / 8
// bytes; the unused high bits of the last byte are 0.
inline void packBits(const char* bits, int count, std::uint8_t* packed) noexcept {
    const int whole = count / 8;
    for (int i = 0; i < whole; ++i) packed[i] = packEight(bits + 8 * i);
    const int rest = count % 8;
    if (rest == 0) return;
    std::uint8_t last = 0;
    for (int bit = 0; bit < rest; ++bit) {
        if (bits[8 * whole + bit] != 0) last = static_cast<std::uint8_t>(last | (1u << bit));
    }
    packed[whole] = last;
}

// Unpacks count bits, least significant bit first, into bytes of exactly 0 or 1.
inline void unpackBits(const std::uint8_t* packed, int count, char* bits) noexcept {
    const int whole = count / 8;
    for (int i = 0; i < whole; ++i) unpackEight(packed[i], bits + 8 * i);
    for (int bit = 0; bit < count % 8; ++bit) {
        bits[8 * whole + bit] = static_cast<char>((packed[whole] >> bit) & 1);
    }
}

}  // namespace mbslave::wire

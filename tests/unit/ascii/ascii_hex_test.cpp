#include <gtest/gtest.h>

#include <cstdint>

#include "serial/ascii_hex.hpp"

namespace mbslave {
namespace {

TEST(AsciiHex, EveryCharacterAndEveryNibble) {
    for (int character = 0; character < 256; ++character) {
        int expected = -1;
        if (character >= '0' && character <= '9') expected = character - '0';
        if (character >= 'A' && character <= 'F') expected = character - 'A' + 10;
        EXPECT_EQ(hexToNibble(static_cast<std::uint8_t>(character)), expected) << character;
    }
    const char digits[] = "0123456789ABCDEF";
    for (unsigned value = 0; value < 64; ++value) {
        EXPECT_EQ(nibbleToHex(value), digits[value % 16]) << value;
    }
}

TEST(AsciiHex, PairsAndLrc) {
    struct Case {
        char high, low;
        int expected;
    };
    const Case cases[] = {
        {'0', '0', 0x00}, {'F', 'F', 0xFF}, {'A', '5', 0xA5}, {'0', 'a', -1},
        {'f', '0', -1},   {'G', '1', -1},   {':', '0', -1},   {'1', '\r', -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(hexPairToByte(static_cast<std::uint8_t>(c.high), static_cast<std::uint8_t>(c.low)),
                  c.expected)
            << c.high << c.low;
    }
    const std::uint8_t request[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A};
    EXPECT_EQ(lrc(request, 6), 0xF2);
    const std::uint8_t wraps[] = {0xFF, 0xFF, 0x02};
    EXPECT_EQ(lrc(wraps, 3), 0x00);
    EXPECT_EQ(lrc(request, 0), 0x00);
}

}  // namespace
}  // namespace mbslave

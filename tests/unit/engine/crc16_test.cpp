#include "engine/rtu_frame_bytes.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace mbslave {
namespace {

struct CrcCase {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::uint16_t crc;
};

void PrintTo(const CrcCase& c, std::ostream* os) { *os << c.name; }

class Crc16KnownValues : public ::testing::TestWithParam<CrcCase> {};

TEST_P(Crc16KnownValues, MatchesPublishedValue) {
    const CrcCase& c = GetParam();
    EXPECT_EQ(crc16(c.bytes.data(), static_cast<int>(c.bytes.size())), c.crc);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, Crc16KnownValues,
    ::testing::Values(
        CrcCase{"checkValue", {'1', '2', '3', '4', '5', '6', '7', '8', '9'}, 0x4B37},
        CrcCase{"empty", {}, 0xFFFF},
        CrcCase{"readTenRegisters", {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A}, 0xCDC5},
        CrcCase{"readOneRegister", {0x01, 0x03, 0x00, 0x01, 0x00, 0x01}, 0xCAD5},
        CrcCase{"readThreeRegistersAt107", {0x11, 0x03, 0x00, 0x6B, 0x00, 0x03}, 0x8776},
        CrcCase{"singleZero", {0x00}, 0x40BF},
        CrcCase{"singleFF", {0xFF}, 0x00FF}),
    [](const auto& info) { return std::string(info.param.name); });

// Bit-by-bit definition of CRC-16/MODBUS, independent of the tables.
std::uint16_t bitwiseCrc(const std::vector<std::uint8_t>& bytes) {
    unsigned crc = 0xFFFF;
    for (std::uint8_t b : bytes) {
        crc ^= b;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1u) ? (crc >> 1) ^ 0xA001u : crc >> 1;
    }
    return static_cast<std::uint16_t>(crc);
}

TEST(Crc16, TablesAgreeWithBitwiseDefinitionForEveryByteAndRandomFrames) {
    for (unsigned v = 0; v < 256; ++v) {
        const std::vector<std::uint8_t> one{static_cast<std::uint8_t>(v)};
        ASSERT_EQ(crc16(one.data(), 1), bitwiseCrc(one)) << "byte " << v;
    }
    std::mt19937 rng(12345);
    for (int round = 0; round < 500; ++round) {
        std::vector<std::uint8_t> frame(rng() % 257);
        for (auto& b : frame) b = static_cast<std::uint8_t>(rng());
        ASSERT_EQ(crc16(frame.data(), static_cast<int>(frame.size())), bitwiseCrc(frame));
    }
}

TEST(Crc16, AppendedLowByteFirstAndCheckedBack) {
    std::uint8_t frame[8] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A};
    EXPECT_EQ(appendCrc16(frame, 6), 8);
    EXPECT_EQ(frame[6], 0xC5);
    EXPECT_EQ(frame[7], 0xCD);
    EXPECT_TRUE(hasValidCrc16(frame, 8));

    // Every single-bit error anywhere in the frame is detected.
    for (int bit = 0; bit < 8 * 8; ++bit) {
        std::uint8_t damaged[8];
        std::memcpy(damaged, frame, sizeof frame);
        damaged[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
        EXPECT_FALSE(hasValidCrc16(damaged, 8)) << "bit " << bit;
    }
}

}  // namespace
}  // namespace mbslave

// Bit packing and big-endian conversions against their plain definitions.
#include "engine/wire_format.hpp"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace mbslave::wire {
namespace {

TEST(WireFormat, PackAndUnpackMatchThePlainDefinition) {
    std::mt19937 random(7);
    std::vector<int> counts;
    for (int count = 1; count <= 80; ++count) counts.push_back(count);
    counts.push_back(1999);
    counts.push_back(2000);
    for (int count : counts) {
        SCOPED_TRACE(count);
        std::vector<char> bits(static_cast<std::size_t>(count));
        // Any byte value, with many zeros; nonzero means ON.
        for (char& bit : bits) bit = random() % 3 == 0 ? 0 : static_cast<char>(random());
        std::vector<std::uint8_t> packed(static_cast<std::size_t>((count + 7) / 8) + 1, 0xEE);
        packBits(bits.data(), count, packed.data());
        for (int i = 0; i < count; ++i) {
            const bool on = (packed[static_cast<std::size_t>(i / 8)] >> (i % 8)) & 1;
            ASSERT_EQ(on, bits[static_cast<std::size_t>(i)] != 0) << i;
        }
        const int lastBits = count % 8;
        if (lastBits != 0) {
            EXPECT_EQ(packed[packed.size() - 2] >> lastBits, 0) << "unused high bits";
        }
        EXPECT_EQ(packed.back(), 0xEE) << "written past the byte count";

        std::vector<char> unpacked(static_cast<std::size_t>(count) + 1, 9);
        unpackBits(packed.data(), count, unpacked.data());
        for (int i = 0; i < count; ++i) {
            ASSERT_EQ(unpacked[static_cast<std::size_t>(i)], bits[static_cast<std::size_t>(i)] != 0 ? 1 : 0) << i;
        }
        EXPECT_EQ(unpacked.back(), 9) << "written past the count";
    }
}

TEST(WireFormat, BigEndianFields) {
    std::uint8_t bytes[4];
    writeU32(bytes, 0x89ABCDEFu);
    EXPECT_EQ(bytes[0], 0x89);
    EXPECT_EQ(bytes[3], 0xEF);
    EXPECT_EQ(readU32(bytes), 0x89ABCDEFu);
    EXPECT_EQ(readU16(bytes), 0x89AB);
    EXPECT_EQ(readQuantity(bytes), static_cast<std::int16_t>(0x89AB));
    writeU16(bytes, 0x1234);
    EXPECT_EQ(readQuantity(bytes), 0x1234);
}

}  // namespace
}  // namespace mbslave::wire

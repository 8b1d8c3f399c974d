#include <gtest/gtest.h>

#include <limits>

#include "number_text.hpp"
#include "unit_set.hpp"

namespace sim {
namespace {

// The one number reader of the command line, the map file and the web page.
TEST(SimNumberText, DecimalNegativeOrHexadecimalOnly) {
    constexpr long kMax = std::numeric_limits<long>::max();
    constexpr long kMin = std::numeric_limits<long>::min();
    struct Case {
        const char* text;
        std::optional<long> expected;
    };
    const Case cases[] = {
        {"0", 0},          {"12", 12},        {"-5", -5},        {"-0", 0},
        {"007", 7},        {"0x1F", 31},      {"0X1f", 31},      {"0x0", 0},
        {"65535", 65535},  {"-32768", -32768},
        {"99999999999999999999", kMax},       {"-99999999999999999999", kMin},
        {"0xFFFFFFFFFFFFFFFFFF", kMax},
        {"", std::nullopt},     {"-", std::nullopt},   {"--5", std::nullopt}, {"0x-5", std::nullopt},
        {"-0x10", std::nullopt}, {"0x", std::nullopt},  {" 1", std::nullopt},  {"1 ", std::nullopt},
        {"+1", std::nullopt},   {"1e3", std::nullopt}, {"0b1", std::nullopt}, {"1.0", std::nullopt},
        {"x1", std::nullopt},   {"0x+1", std::nullopt}, {"12abc", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseWholeNumber(c.text), c.expected);
    }
}

TEST(SimUnitSet, ParsesListsRangesAndAll) {
    struct Case {
        const char* text;
        bool serial;
        const char* expected;  // formatted set, or null for an error
    };
    const Case cases[] = {
        {"1", false, "1"},
        {"1,2,10-20", false, "1-2,10-20"},
        {"20-10", false, nullptr},
        {"7-7", true, "7"},
        {"0", false, "0"},
        {"0", true, nullptr},
        {"0-5", true, nullptr},
        {"all", false, "0-255"},
        {"all", true, "1-255"},
        {"255", true, "255"},
        {"256", false, nullptr},
        {"-1", false, nullptr},
        {"", false, nullptr},
        {"1,", false, nullptr},
        {"1,,2", false, nullptr},
        {"x", false, nullptr},
        {"1-", false, nullptr},
        {"3,1,2", false, "1-3"},
        {" 1", false, nullptr},
        {"0x10-0x12", false, "16-18"},
        {"--1", false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "'" << c.text << "' serial " << c.serial);
        std::string error;
        const auto units = parseUnitList(c.text, c.serial, error);
        if (c.expected == nullptr) {
            EXPECT_FALSE(units.has_value());
            EXPECT_FALSE(error.empty());
        } else {
            ASSERT_TRUE(units.has_value()) << error;
            EXPECT_EQ(formatRanges(*units), c.expected);
        }
    }
}

TEST(SimUnitSet, SerialAddressZeroErrorNamesTheBroadcastAddress) {
    std::string error;
    EXPECT_FALSE(parseUnitList("0,1", true, error));
    EXPECT_NE(error.find("broadcast"), std::string::npos) << error;
}

TEST(SimUnitSet, FormatsEmptyAndEdgeSets) {
    std::bitset<256> numbers;
    EXPECT_EQ(formatRanges(numbers), "none");
    numbers.set(0);
    numbers.set(255);
    EXPECT_EQ(formatRanges(numbers), "0,255");
    numbers.set(254);
    EXPECT_EQ(formatRanges(numbers), "0,254-255");
}

}  // namespace
}  // namespace sim

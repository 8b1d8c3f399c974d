// Modbus ASCII text under attack: odd digit counts, characters that are not
// digits, frames at and beyond the digit limit. Each is dropped or answered
// exactly as the framing says, and a valid request follows it.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "serial_targets.hpp"

namespace mbslave::test {
namespace {

constexpr std::uint8_t kUnit = 1;

TEST(AsciiTextAttack, OddDigitCountsAndForeignCharacters) {
    AsciiTarget target;
    const std::string readTen = AsciiTarget::frameText(readRequest(kUnit, 3, 0, 10));  // ":01030000000AF2\r\n"
    const std::string digits = readTen.substr(1, readTen.size() - 3);
    Bytes longEcho{kUnit, 8, 0, 0};
    longEcho.resize(255, 0x5A);  // 510 digits and 2 of the LRC
    const std::string echoText = AsciiTarget::frameText(longEcho);
    const std::string echoDigits = echoText.substr(1, echoText.size() - 3);

    const struct {
        const char* name;
        std::string text;
        std::optional<Bytes> reply;
    } cases[] = {
        {"odd digit after the LRC is ignored", ":" + digits + "5\r\n", readReply(kUnit, 3, 0, 10)},
        {"odd count that moves the LRC", ":" + digits.substr(0, 13) + "\r\n", std::nullopt},
        {"three digits", ":010\r\n", std::nullopt},
        {"one digit", ":0\r\n", std::nullopt},
        {"no digits", ":\r\n", std::nullopt},
        {"letter G", ":0103G000000AF2\r\n", std::nullopt},
        {"lower-case digits", ":01030000000af2\r\n", std::nullopt},
        {"NUL inside", std::string(":0103\0" "0000000AF2\r\n", 17), std::nullopt},
        {"byte 0xFF inside", ":0103\xFF" "0000000AF2\r\n", std::nullopt},
        {"space inside", ":0103 0000000AF2\r\n", std::nullopt},
        {"LF inside", ":0103\n0000000AF2\r\n", std::nullopt},
        // 255 message bytes echoed would not fit a reply: exception 3.
        {"513 digits", ":" + echoDigits + "7\r\n", exceptionReply(kUnit, 8, 3)},
        {"514 digits", ":" + echoDigits + "77\r\n", std::nullopt},
        {"flood of digits", ":" + std::string(4000, '0') + "\r\n", std::nullopt},
    };
    for (const auto& attack : cases) {
        EXPECT_EQ(target.exchangeText(attack.text), attack.reply) << attack.name;
        EXPECT_EQ(target.exchange(readRequest(kUnit, 2, 7, 19)), readReply(kUnit, 2, 7, 19)) << "after " << attack.name;
    }
    EXPECT_EQ(target.table.writes, 0);
}

}  // namespace
}  // namespace mbslave::test

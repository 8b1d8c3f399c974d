// ASCII frame builders, written independently of the library's routines.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "serial/ascii_protocol.hpp"
#include "support/fake_serial_line.hpp"

namespace mbslave::test {

using Bytes = std::vector<std::uint8_t>;

inline std::string hexDigits(const Bytes& bytes) {
    std::string digits;
    char pair[3];
    for (std::uint8_t byte : bytes) {
        std::snprintf(pair, sizeof pair, "%02X", byte);
        digits += pair;
    }
    return digits;
}

inline std::uint8_t lrcOf(const Bytes& message) {
    int sum = 0;
    for (std::uint8_t byte : message) sum += byte;
    return static_cast<std::uint8_t>((256 - sum % 256) % 256);
}

// ":" + message and LRC in hexadecimal digits + CR LF.
inline std::string asciiFrame(const Bytes& message) {
    Bytes withLrc = message;
    withLrc.push_back(lrcOf(message));
    return ":" + hexDigits(withLrc) + "\r\n";
}

class TestAsciiProtocol : public AsciiProtocol {
public:
    using AsciiProtocol::addressTimers;
};

using FakeAsciiLine = FakeSerialLine<TestAsciiProtocol>;

inline std::string written(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace mbslave::test

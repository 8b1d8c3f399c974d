// The ASCII protocol and fake line of the ASCII tests.
#pragma once

#include <cstdint>

#include "serial/ascii_protocol.hpp"
#include "support/fake_serial_line.hpp"
#include "support/frames.hpp"

namespace mbslave::test {

class TestAsciiProtocol : public AsciiProtocol {
public:
    using AsciiProtocol::addressTimers;
};

using FakeAsciiLine = FakeSerialLine<TestAsciiProtocol>;

inline std::string written(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace mbslave::test

// The termios modes a POSIX serial device is given for a line, apart from
// the device: a pty takes only part of them, so tests check them here.
#pragma once

#include <cstdint>

#include "platform/serial_device.hpp"

namespace mbslave::platform {

// The mode words of a tty's settings (c_iflag, c_oflag, c_cflag, c_lflag),
// kept free of the termios types, which clash between system headers.
struct TermiosModes {
    std::uint32_t input;
    std::uint32_t output;
    std::uint32_t control;
    std::uint32_t local;
};

// The modes that applyLineSettings writes for a line, from the device's
// current ones: raw mode with the receiver on and modem status lines
// ignored, the character format, parity checking of received characters,
// and RTS/CTS where asked. The rate is set apart.
TermiosModes rawLineModes(const TermiosModes& current, const LineSettings& line) noexcept;

}  // namespace mbslave::platform

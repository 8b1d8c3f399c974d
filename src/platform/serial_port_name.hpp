// How a port name leads to a serial device on this system.
#pragma once

#include <array>

namespace mbslave::platform {

// Room for the longest mapped name, "/dev/ttyS99998".
using DevicePathBuffer = std::array<char, 16>;

// "COMn" or "COMn:" (COM in any case, n a decimal number 1..99999) is
// /dev/ttyS<n-1>, written into buffer; every other name is a device path and
// is returned unchanged.
const char* serialDevicePath(const char* portName, DevicePathBuffer& buffer) noexcept;

}  // namespace mbslave::platform

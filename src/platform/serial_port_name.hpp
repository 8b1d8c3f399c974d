// How a port name leads to a serial device on this system.
#pragma once

#include <array>

namespace mbslave::platform {

// Room for the longest mapped name, "/dev/ttyS99998" or "\\.\COM99999".
using DevicePathBuffer = std::array<char, 16>;

constexpr long kMaxComNumber = 99999;

// The number n of "COMn" or "COMn:" (COM in any case, n a decimal number
// 1..99999), or 0 when the name is not of that form.
long comPortNumber(const char* name) noexcept;

// A COM name is the system's device for that port (/dev/ttyS<n-1> on Linux,
// \\.\COMn on Windows), written into buffer; every other name is a device
// path and is returned unchanged.
const char* serialDevicePath(const char* portName, DevicePathBuffer& buffer) noexcept;

}  // namespace mbslave::platform

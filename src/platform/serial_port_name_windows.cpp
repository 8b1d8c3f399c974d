#include "platform/serial_port_name.hpp"

#include <cstdio>

namespace mbslave::platform {

// COM ports are opened in the device namespace, which is the only way to
// reach COM10 and up and works for COM1 to COM9 as well.
const char* serialDevicePath(const char* portName, DevicePathBuffer& buffer) noexcept {
    const long number = comPortNumber(portName);
    if (number <= 0 || number > kMaxComNumber) return portName;
    std::snprintf(buffer.data(), buffer.size(), "\\\\.\\COM%ld", number);
    return buffer.data();
}

}  // namespace mbslave::platform

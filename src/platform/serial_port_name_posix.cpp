#include "platform/serial_port_name.hpp"

#include <cstdio>

namespace mbslave::platform {

const char* serialDevicePath(const char* portName, DevicePathBuffer& buffer) noexcept {
    const long number = comPortNumber(portName);
    if (number <= 0 || number > kMaxComNumber) return portName;
    std::snprintf(buffer.data(), buffer.size(), "/dev/ttyS%ld", number - 1);
    return buffer.data();
}

}  // namespace mbslave::platform

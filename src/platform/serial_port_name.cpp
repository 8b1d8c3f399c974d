#include "platform/serial_port_name.hpp"

#include <cstdio>

namespace mbslave::platform {
namespace {

constexpr long kMaxComNumber = 99999;
constexpr int kMaxComDigits = 5;

bool isComPrefix(const char* name) noexcept {
    auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; };
    return upper(name[0]) == 'C' && upper(name[1]) == 'O' && upper(name[2]) == 'M';
}

// The number n of "COMn" or "COMn:", or 0 when the name is not of that form.
long comNumber(const char* name) noexcept {
    if (!isComPrefix(name)) return 0;
    long number = 0;
    int digits = 0;
    const char* cursor = name + 3;
    for (; *cursor >= '0' && *cursor <= '9'; ++cursor) {
        if (++digits > kMaxComDigits) return 0;
        number = number * 10 + (*cursor - '0');
    }
    if (digits == 0) return 0;
    if (*cursor == ':') ++cursor;
    if (*cursor != '\0') return 0;
    return number <= kMaxComNumber ? number : 0;
}

}  // namespace

const char* serialDevicePath(const char* portName, DevicePathBuffer& buffer) noexcept {
    const long number = comNumber(portName);
    if (number == 0) return portName;
    std::snprintf(buffer.data(), buffer.size(), "/dev/ttyS%ld", number - 1);
    return buffer.data();
}

}  // namespace mbslave::platform

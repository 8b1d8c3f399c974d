#include "platform/serial_port_name.hpp"

namespace mbslave::platform {
namespace {

constexpr int kMaxComDigits = 5;

bool isComPrefix(const char* name) noexcept {
    auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; };
    return upper(name[0]) == 'C' && upper(name[1]) == 'O' && upper(name[2]) == 'M';
}

}  // namespace

long comPortNumber(const char* name) noexcept {
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

}  // namespace mbslave::platform

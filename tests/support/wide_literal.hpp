// UTF-16 literals (u"...") as the C interface's wide texts and back: the
// header's MbWideChar is char16_t, or the 16-bit wchar_t on Windows. And the
// device a port name COMn opens on the system the tests run on.
#pragma once

#include <string>

#include "mbslave.h"

namespace mbslave::test {

static_assert(sizeof(MbWideChar) == sizeof(char16_t), "MbWideChar holds UTF-16 units");

inline const MbWideChar* wide(const char16_t* text) { return reinterpret_cast<const MbWideChar*>(text); }

inline std::u16string utf16(const MbWideChar* text) { return reinterpret_cast<const char16_t*>(text); }

// COM1 is /dev/ttyS0 on Linux and \\.\COM1 in the Windows device namespace.
inline std::string comDevice(int number) {
#ifdef _WIN32
    return "\\\\.\\COM" + std::to_string(number);
#else
    return "/dev/ttyS" + std::to_string(number - 1);
#endif
}

}  // namespace mbslave::test

#include "platform/clock.hpp"

#include <windows.h>

namespace mbslave::platform {

// The system's own 32-bit tick counter: milliseconds since start, wrapping
// after about 49.7 days.
std::uint32_t tickMs() noexcept { return static_cast<std::uint32_t>(GetTickCount()); }

void sleepMs(std::uint32_t milliseconds) noexcept {
    if (milliseconds == 0) return;
    Sleep(milliseconds);
}

}  // namespace mbslave::platform

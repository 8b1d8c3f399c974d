// Millisecond tick counter and sleep: the library's only clock.
#pragma once

#include <cstdint>

namespace mbslave::platform {

// Milliseconds since an arbitrary start, truncated to 32 bits; wraps after
// about 49.7 days like a system tick counter.
std::uint32_t tickMs() noexcept;

// Suspends the calling thread; 0 returns at once.
void sleepMs(std::uint32_t milliseconds) noexcept;

}  // namespace mbslave::platform

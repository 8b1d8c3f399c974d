// A tick counter that tests set by hand, so timers can be driven through
// hours (and across the 32-bit wrap) without sleeping.
#pragma once

#include <cstdint>

namespace mbslave::test {

class FakeClock {
public:
    static std::uint32_t tick() noexcept { return now_; }
    static void set(std::uint32_t now) noexcept { now_ = now; }
    static void advance(std::uint32_t milliseconds) noexcept { now_ += milliseconds; }

private:
    static inline std::uint32_t now_ = 0;
};

}  // namespace mbslave::test

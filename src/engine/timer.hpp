// Millisecond timer on the 32-bit tick counter.
#pragma once

#include <cstdint>

#include "platform/clock.hpp"

namespace mbslave {

// A start tick and a duration. The unsigned difference keeps timers correct
// across the wrap of the tick counter. A new timer has duration 0 and has
// therefore elapsed at once.
class Timer {
public:
    Timer() noexcept : Timer(platform::tickMs()) {}
    explicit Timer(std::uint32_t now) noexcept : startTick_(now) {}

    void start(std::uint32_t duration, std::uint32_t now) noexcept {
        duration_ = duration;
        startTick_ = now;
    }
    void start(std::uint32_t duration) noexcept { start(duration, platform::tickMs()); }

    bool hasElapsed(std::uint32_t now) const noexcept {
        return static_cast<std::uint32_t>(now - startTick_) >= duration_;
    }
    bool hasElapsed() const noexcept { return hasElapsed(platform::tickMs()); }

    // Milliseconds left until the timer elapses; 0 once it has.
    std::uint32_t remaining(std::uint32_t now) const noexcept {
        const std::uint32_t passed = now - startTick_;
        return passed >= duration_ ? 0u : duration_ - passed;
    }

    std::uint32_t duration() const noexcept { return duration_; }
    std::uint32_t startTick() const noexcept { return startTick_; }

private:
    std::uint32_t startTick_;
    std::uint32_t duration_ = 0;
};

using platform::sleepMs;

}  // namespace mbslave

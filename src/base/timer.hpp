// Millisecond timer on the 32-bit tick counter. It never reads a clock: every
// tick comes from the caller, whose tick source is the only way time is read.
#pragma once

#include <cstdint>

namespace mbslave {

// A start tick and a duration. The unsigned difference keeps timers correct
// across the wrap of the tick counter. A new timer has duration 0 and has
// therefore elapsed at once.
class Timer {
public:
    Timer() noexcept = default;
    explicit Timer(std::uint32_t now) noexcept : startTick_(now) {}

    void start(std::uint32_t duration, std::uint32_t now) noexcept {
        duration_ = duration;
        startTick_ = now;
    }

    bool hasElapsed(std::uint32_t now) const noexcept {
        return static_cast<std::uint32_t>(now - startTick_) >= duration_;
    }

    // Milliseconds left until the timer elapses; 0 once it has.
    std::uint32_t remaining(std::uint32_t now) const noexcept {
        const std::uint32_t passed = now - startTick_;
        return passed >= duration_ ? 0u : duration_ - passed;
    }

    std::uint32_t duration() const noexcept { return duration_; }
    std::uint32_t startTick() const noexcept { return startTick_; }

private:
    std::uint32_t startTick_ = 0;
    std::uint32_t duration_ = 0;
};

}  // namespace mbslave

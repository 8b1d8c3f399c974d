#include "base/timer.hpp"
#include "platform/clock.hpp"

#include <gtest/gtest.h>

#include <chrono>

namespace mbslave {
namespace {

struct TimerCase {
    const char* name;
    std::uint32_t start;
    std::uint32_t duration;
    std::uint32_t notYet;  // a tick at which the timer has not elapsed
    std::uint32_t elapsed; // the first tick at which it has
};

void PrintTo(const TimerCase& c, std::ostream* os) { *os << c.name; }

class TimerWrapTest : public ::testing::TestWithParam<TimerCase> {};

TEST_P(TimerWrapTest, ElapsesExactlyAfterItsDuration) {
    const TimerCase& c = GetParam();
    Timer timer(c.start);
    timer.start(c.duration, c.start);
    EXPECT_FALSE(timer.hasElapsed(c.notYet));
    EXPECT_TRUE(timer.hasElapsed(c.elapsed));
    EXPECT_TRUE(timer.hasElapsed(c.elapsed + 1));
    EXPECT_EQ(timer.remaining(c.elapsed), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Ticks, TimerWrapTest,
    ::testing::Values(TimerCase{"plain", 1000, 500, 1499, 1500},
                      TimerCase{"acrossWrap", 0xFFFFFF00u, 0x200, 0xFFu, 0x100u},
                      TimerCase{"startAtMax", 0xFFFFFFFFu, 1, 0xFFFFFFFFu, 0u},
                      TimerCase{"longPeriod", 5, 0x80000000u, 0x80000004u, 0x80000005u}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Timer, NewTimerHasElapsedAtOnce) {
    Timer timer(1234);
    EXPECT_EQ(timer.duration(), 0u);
    EXPECT_TRUE(timer.hasElapsed(1234));
}

TEST(Timer, DurationZeroHasElapsedAtOnce) {
    Timer timer(7);
    timer.start(0, 99);
    EXPECT_TRUE(timer.hasElapsed(99));
}

TEST(Timer, RemainingCountsDown) {
    Timer timer;
    timer.start(100, 50);
    EXPECT_EQ(timer.remaining(50), 100u);
    EXPECT_EQ(timer.remaining(120), 30u);
}

TEST(Sleep, ZeroReturnsAtOnceAndOtherValuesSleepAtLeastThatLong) {
    using Clock = std::chrono::steady_clock;
    auto begin = Clock::now();
    platform::sleepMs(0);
    EXPECT_LT(Clock::now() - begin, std::chrono::milliseconds(5));
    begin = Clock::now();
    platform::sleepMs(20);
    EXPECT_GE(Clock::now() - begin, std::chrono::milliseconds(20));
}

// GetTickCount advances in steps of the system timer (10 to 16 ms, under
// wine too); the POSIX tick in steps of 1 ms.
#ifdef _WIN32
constexpr std::uint32_t kSleepMs = 100, kTickStepMs = 16;
#else
constexpr std::uint32_t kSleepMs = 15, kTickStepMs = 1;
#endif

TEST(Tick, FollowsTheMonotonicClock) {
    const std::uint32_t before = platform::tickMs();
    platform::sleepMs(kSleepMs);
    const std::uint32_t passed = platform::tickMs() - before;
    EXPECT_GE(passed, kSleepMs - kTickStepMs);
    EXPECT_LT(passed, 5000u);
}

}  // namespace
}  // namespace mbslave

// How long one pass waits: the protocol time-out bounds it, 0 waits for
// traffic without limit, and an interrupted wait still runs the idle checks.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>

#include <chrono>
#include <thread>

#include "support/fake_clock.hpp"
#include "tcp_server_fixture.hpp"

namespace mbslave::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

class WaitTest : public TcpServerTest {};

TEST_F(WaitTest, IdlePassReturnsAfterTheProtocolTimeOut) {
    ASSERT_EQ(mbusSlave_setTimeout(raw(), 60), MB_OK);
    start();
    const auto begin = steady_clock::now();
    EXPECT_EQ(pass(), MB_OK);
    const auto waited = steady_clock::now() - begin;
    EXPECT_GE(waited, milliseconds(55));
    EXPECT_LT(waited, milliseconds(2000));
}

TEST_F(WaitTest, TimeOutZeroWaitsUntilAMasterArrives) {
    ASSERT_EQ(mbusSlave_setTimeout(raw(), 0), MB_OK);
    start();
    LoopbackClient master;
    // Taken before the master's thread starts: the master arrives at least
    // 150 ms after it however late the pass begins.
    const auto begin = steady_clock::now();
    std::thread late([&] {
        std::this_thread::sleep_for(milliseconds(150));
        master.connect(port);
    });
    EXPECT_EQ(pass(), MB_OK);
    const auto waited = steady_clock::now() - begin;
    late.join();
    EXPECT_GE(waited, milliseconds(140));
    EXPECT_EQ(server().connectionCount(), 1);
}

void ignoreAlarm(int) {}

TEST_F(WaitTest, InterruptedWaitReturnsOkAndStillClosesIdleConnections) {
    FakeClock::set(1000);
    server().setTickSource(&FakeClock::tick);
    ASSERT_EQ(mbusSlave_setConnectionTimeOut(raw(), 5000), MB_OK);
    ASSERT_EQ(mbusSlave_setTimeout(raw(), 0), MB_OK);
    start();
    LoopbackClient master;
    ASSERT_TRUE(master.connect(port));
    ASSERT_EQ(mbusSlave_setTimeout(raw(), 100), MB_OK);
    ASSERT_EQ(pass(), MB_OK);
    ASSERT_EQ(server().connectionCount(), 1);
    ASSERT_EQ(mbusSlave_setTimeout(raw(), 0), MB_OK);
    FakeClock::advance(5000);

    struct sigaction action{};
    struct sigaction previous{};
    action.sa_handler = &ignoreAlarm;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGALRM, &action, &previous), 0);
    itimerval alarmIn50ms{};
    alarmIn50ms.it_value.tv_usec = 50000;
    ASSERT_EQ(setitimer(ITIMER_REAL, &alarmIn50ms, nullptr), 0);
    // Without the interruption this pass would wait for ever.
    EXPECT_EQ(pass(), MB_OK);
    sigaction(SIGALRM, &previous, nullptr);
    EXPECT_EQ(server().connectionCount(), 0);
    EXPECT_TRUE(master.closedByPeer());
}

}  // namespace
}  // namespace mbslave::test

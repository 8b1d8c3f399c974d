// The connection rules of the Modbus/TCP server, on real loopback sockets.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "support/callbacks.hpp"
#include "support/fake_clock.hpp"
#include "tcp_server_fixture.hpp"

namespace mbslave::test {
namespace {

using Events = std::vector<std::string>;

class ConnectionTest : public TcpServerTest {
protected:
    void SetUp() override {
        TcpServerTest::SetUp();
        serveEveryUnit();
        start();
    }
};

TEST_F(ConnectionTest, RequestIsAnsweredWithItsTransactionIdAndReplyLength) {
    LoopbackClient master = connectMaster();
    for (std::uint16_t transactionId : {0x0000, 0x1234, 0xFFFF}) {
        ASSERT_TRUE(master.send(unsupportedRequest(transactionId, 17)));
        EXPECT_EQ(pass(), MB_OK);
        EXPECT_EQ(master.receive(9), illegalFunctionReply(transactionId, 17));
    }
    EXPECT_EQ(mbusSlave_getTotalCounter(raw()), 3u);
    EXPECT_EQ(mbusSlave_getSuccessCounter(raw()), 3u);
    EXPECT_EQ(mbusSlave_getConnectionStatus(raw()), 1);
    EXPECT_EQ(server().getRequestInfo().transactionId, 0xFFFF);
    EXPECT_STREQ(server().getRequestInfo().peerName, "127.0.0.1");
    EXPECT_EQ(Notifications::events,
              (Events{"accept 127.0.0.1", "request 127.0.0.1", "request 127.0.0.1",
                      "request 127.0.0.1"}));
}

TEST_F(ConnectionTest, UnitIdentifiersZeroAndTwoHundredFiftyFiveAreOrdinaryAddresses) {
    LoopbackClient master = connectMaster();
    for (std::uint8_t unit : {0, 255}) {
        ASSERT_TRUE(master.send(unsupportedRequest(7, unit)));
        EXPECT_EQ(pass(), MB_OK);
        EXPECT_EQ(master.receive(9), illegalFunctionReply(7, unit));
    }
}

struct MalformedHeader {
    const char* name;
    std::vector<std::uint8_t> frame;
};

TEST_F(ConnectionTest, MalformedHeaderClosesTheConnectionWithoutCounting) {
    const std::vector<std::uint8_t> longPdu(254, kUnsupportedFunction);
    const MalformedHeader cases[] = {
        {"protocol identifier 1", mbapFrame(1, 1, {kUnsupportedFunction}, 1)},
        {"length 0", mbapFrame(1, 1, {}, 0, 0)},
        {"length 255", mbapFrame(1, 1, longPdu, 0, 255)},
        {"length 0xFFFF", mbapFrame(1, 1, {kUnsupportedFunction}, 0, 0xFFFF)},
    };
    for (const MalformedHeader& malformed : cases) {
        SCOPED_TRACE(malformed.name);
        Notifications::reset();
        LoopbackClient master = connectMaster();
        ASSERT_TRUE(master.send(malformed.frame));
        EXPECT_EQ(pass(), MB_OK);
        EXPECT_TRUE(master.closedByPeer());
        EXPECT_EQ(server().connectionCount(), 0);
        EXPECT_EQ(Notifications::events, (Events{"accept 127.0.0.1", "close 127.0.0.1"}));
        EXPECT_EQ(mbusSlave_getTotalCounter(raw()), 0u);
        EXPECT_EQ(mbusSlave_getSuccessCounter(raw()), 0u);
    }
}

TEST_F(ConnectionTest, LargestRequestIsReceived) {
    LoopbackClient master = connectMaster();
    std::vector<std::uint8_t> pdu(253, 0);
    pdu[0] = kUnsupportedFunction;
    ASSERT_TRUE(master.send(mbapFrame(9, 1, pdu)));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(master.receive(9), illegalFunctionReply(9, 1));
    EXPECT_EQ(server().connectionCount(), 1);
}

TEST_F(ConnectionTest, UnitWithoutDataTableClosesWithoutReply) {
    ASSERT_EQ(test::configureEmptyCallbacks(raw(), -1),
              MB_OK);
    server().setDataTable(5, nullptr);
    LoopbackClient master = connectMaster();
    ASSERT_TRUE(master.send(unsupportedRequest(1, 5)));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_TRUE(master.closedByPeer());
    EXPECT_EQ(mbusSlave_getTotalCounter(raw()), 1u);
    EXPECT_EQ(mbusSlave_getSuccessCounter(raw()), 0u);
    EXPECT_EQ(Notifications::events, (Events{"accept 127.0.0.1", "close 127.0.0.1"}));
}

// TCP cuts the stream where it likes: a request split at any byte, dripped
// byte by byte, or with a pause below the protocol time-out is served whole.
TEST_F(ConnectionTest, RequestSplitAnywhereIsServedWhole) {
    server().setTickSource(&FakeClock::tick);
    const std::vector<std::uint8_t> request = mbapFrame(3, 1, {kUnsupportedFunction, 1, 2, 3});
    const std::vector<std::uint8_t> reply = illegalFunctionReply(3, 1);
    LoopbackClient master = connectMaster();
    for (std::size_t split = 1; split < request.size(); ++split) {
        SCOPED_TRACE(split);
        ASSERT_TRUE(master.send({request.begin(), request.begin() + static_cast<long>(split)}));
        EXPECT_EQ(pass(), MB_OK);
        EXPECT_TRUE(master.isQuiet(0));
        FakeClock::advance(kPassTimeOut - 1);  // the rest comes just in time
        ASSERT_TRUE(master.send({request.begin() + static_cast<long>(split), request.end()}));
        EXPECT_EQ(pass(), MB_OK);
        EXPECT_EQ(master.receive(reply.size()), reply);
    }
    for (std::uint8_t byte : request) {  // one byte per pass
        ASSERT_TRUE(master.send({byte}));
        EXPECT_EQ(pass(), MB_OK);
    }
    EXPECT_EQ(master.receive(reply.size()), reply);
    EXPECT_EQ(mbusSlave_getTotalCounter(raw()), request.size());
    EXPECT_EQ(mbusSlave_getSuccessCounter(raw()), request.size());
    EXPECT_EQ(server().connectionCount(), 1);
}

// The rest of a started request is due within the protocol time-out of its
// first byte; a master that stops sending mid-request is closed then.
TEST_F(ConnectionTest, IncompleteRequestIsClosedOnceTheProtocolTimeOutHasPassed) {
    server().setTickSource(&FakeClock::tick);
    const std::vector<std::uint8_t> request = unsupportedRequest(3, 1);
    for (std::size_t sent : {std::size_t{1}, std::size_t{5}, std::size_t{6}, request.size() - 1}) {
        SCOPED_TRACE(sent);
        Notifications::reset();
        LoopbackClient master = connectMaster();
        ASSERT_TRUE(master.send({request.begin(), request.begin() + static_cast<long>(sent)}));
        EXPECT_EQ(pass(), MB_OK);
        FakeClock::advance(kPassTimeOut - 1);
        EXPECT_EQ(pass(), MB_OK);
        EXPECT_EQ(server().connectionCount(), 1);
        FakeClock::advance(1);
        EXPECT_EQ(pass(), MB_OK);
        EXPECT_TRUE(master.closedByPeer());
        EXPECT_EQ(Notifications::events, (Events{"accept 127.0.0.1", "close 127.0.0.1"}));
    }
    EXPECT_EQ(mbusSlave_getSuccessCounter(raw()), 0u);
}

// Runs `master` in its own thread while this one serves passes, until it
// has finished (at most 30 s).
template <typename Master, typename Pass>
void serveWhile(Master master, Pass pass) {
    std::atomic<bool> done{false};
    std::thread thread([&] {
        master();
        done = true;
    });
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done && std::chrono::steady_clock::now() < until) pass();
    thread.join();
}

// A master that writes header and body with two calls, back to back, while
// the server runs: the server's read often finds only the header.
TEST_F(ConnectionTest, HeaderAndBodySentByTwoCallsAreServedEveryTime) {
    LoopbackClient master;
    ASSERT_TRUE(master.connect(port));
    int answered = 0;
    serveWhile([&] {
        for (std::uint16_t id = 0; id < 100; ++id) {
            const std::vector<std::uint8_t> request = mbapFrame(id, 1, {kUnsupportedFunction, 0, 1});
            if (!master.send({request.begin(), request.begin() + 6}) ||
                !master.send({request.begin() + 6, request.end()})) {
                return;
            }
            answered += master.receive(9) == illegalFunctionReply(id, 1);
        }
    }, [this] { pass(); });
    EXPECT_EQ(answered, 100);
    EXPECT_EQ(server().connectionCount(), 1);
}

// 100 requests of 259 bytes sent at once as soon as the connection is made:
// the first ten before the server accepted it, the rest while it accepts and
// serves. The window offered in the handshake already fits the connection's
// receive buffer, so no segment sent for a larger one is dropped, and every
// request is answered.
TEST_F(ConnectionTest, PipelinedBurstRightAfterConnectIsAnsweredWhole) {
    std::vector<std::uint8_t> burst;
    constexpr int kRequests = 100;
    for (int id = 0; id < kRequests; ++id) {
        std::vector<std::uint8_t> pdu{0x10, 0, 0, 0, 123, 246};
        pdu.resize(pdu.size() + 246, static_cast<std::uint8_t>(id));
        const std::vector<std::uint8_t> request = mbapFrame(static_cast<std::uint16_t>(id), 1, pdu);
        ASSERT_EQ(request.size(), 259u);
        burst.insert(burst.end(), request.begin(), request.end());
    }
    // Without a write callback each request is answered with an exception.
    const std::size_t replyLength = illegalFunctionReply(0, 1).size();
    std::vector<std::uint8_t> replies;
    std::atomic<bool> connected{false};
    serveWhile([&] {
        LoopbackClient master;
        const std::size_t early = 10 * 259;
        const bool sent = master.connect(port) && master.send({burst.begin(), burst.begin() + early});
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        connected = true;
        if (sent && master.send({burst.begin() + early, burst.end()})) {
            replies = master.receive(kRequests * replyLength, 2000);
        }
    }, [&] {
        if (connected) pass();
    });
    ASSERT_EQ(replies.size(), kRequests * replyLength);
    for (int id = 0; id < kRequests; ++id) {
        const auto reply = replies.begin() + static_cast<long>(id * replyLength);
        EXPECT_EQ((reply[0] << 8) | reply[1], id);
        EXPECT_EQ(reply[7], 0x90) << id;
    }
    EXPECT_EQ(mbusSlave_getSuccessCounter(raw()), static_cast<std::uint32_t>(kRequests));
}

// With protocol time-out 0 the wait still ends at the earliest idle
// deadline, so idle connections are closed without other traffic.
TEST_F(ConnectionTest, IdleConnectionIsClosedOnTimeWithProtocolTimeOutZero) {
    mbusSlave_shutdownServer(raw());
    ASSERT_EQ(mbusSlave_setTimeout(raw(), 0), MB_OK);
    ASSERT_EQ(mbusSlave_setConnectionTimeOut(raw(), 100), MB_OK);
    start();
    LoopbackClient master = connectMaster();
    // Should the wait not end by itself, a late master ends it.
    std::atomic<bool> returned{false};
    std::thread waker([this, &returned] {
        for (int i = 0; i < 300 && !returned; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        LoopbackClient late;
        if (!returned) late.connect(port);
    });
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(pass(), MB_OK);
    const auto waited = std::chrono::steady_clock::now() - before;
    returned = true;
    waker.join();
    EXPECT_EQ(server().connectionCount(), 0);
    EXPECT_TRUE(master.closedByPeer());
    EXPECT_LT(waited, std::chrono::seconds(2));
}

TEST_F(ConnectionTest, TwoQueuedRequestsAreServedInTwoPasses) {
    LoopbackClient master = connectMaster();
    std::vector<std::uint8_t> both = unsupportedRequest(1, 1);
    const std::vector<std::uint8_t> second = unsupportedRequest(2, 1);
    both.insert(both.end(), second.begin(), second.end());
    ASSERT_TRUE(master.send(both));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(master.receive(9), illegalFunctionReply(1, 1));
    EXPECT_TRUE(master.isQuiet());
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(master.receive(9), illegalFunctionReply(2, 1));
    EXPECT_EQ(mbusSlave_getSuccessCounter(raw()), 2u);
}

TEST_F(ConnectionTest, EveryReadableConnectionIsServedInOnePass) {
    std::vector<LoopbackClient> masters;
    for (int i = 0; i < 4; ++i) masters.push_back(connectMaster());
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(masters[i].send(unsupportedRequest(100 + i, 1)));
    EXPECT_EQ(pass(), MB_OK);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(masters[i].receive(9), illegalFunctionReply(100 + i, 1));
    }
}

TEST_F(ConnectionTest, DisabledExceptionRepliesSendNothingAndKeepTheConnection) {
    mbusSlave_disableExceptionReplies(raw());
    LoopbackClient master = connectMaster();
    ASSERT_TRUE(master.send(unsupportedRequest(1, 1)));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_TRUE(master.isQuiet());
    EXPECT_EQ(mbusSlave_getSuccessCounter(raw()), 1u);
    EXPECT_EQ(server().connectionCount(), 1);
    EXPECT_EQ(Notifications::events, (Events{"accept 127.0.0.1", "request 127.0.0.1"}));
}

TEST_F(ConnectionTest, MasterClosingIsNotifiedAndNotCounted) {
    LoopbackClient master = connectMaster();
    master.close();
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(server().connectionCount(), 0);
    EXPECT_EQ(mbusSlave_getTotalCounter(raw()), 0u);
    EXPECT_EQ(Notifications::events, (Events{"accept 127.0.0.1", "close 127.0.0.1"}));
}

#ifndef _WIN32  // Windows has no SIGPIPE
TEST_F(ConnectionTest, MasterLeavingWithRequestsOutstandingDoesNotRaiseSigpipe) {
    // The master sends two requests and closes. The first reply meets the
    // closed socket, whose reset leaves the server's connection broken with
    // EPIPE pending; the second reply's send then fails with EPIPE, which
    // ends this process with SIGPIPE unless the send suppresses it.
    LoopbackClient master = connectMaster();
    std::vector<std::uint8_t> both = unsupportedRequest(1, 1);
    const std::vector<std::uint8_t> second = unsupportedRequest(2, 1);
    both.insert(both.end(), second.begin(), second.end());
    ASSERT_TRUE(master.send(both));
    master.close();
    EXPECT_EQ(pass(), MB_OK);
    ASSERT_EQ(server().connectionCount(), 1);
    pollfd broken{static_cast<int>(server().connectionDescriptor(0)), 0, 0};
    ASSERT_EQ(::poll(&broken, 1, 1000), 1);
    ASSERT_NE(broken.revents & POLLERR, 0);
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(server().connectionCount(), 0);
    EXPECT_EQ(mbusSlave_getSuccessCounter(raw()), 2u);
    EXPECT_EQ(Notifications::events.back(), "close 127.0.0.1");
}
#endif

TEST_F(ConnectionTest, ReplyThatCannotLeaveWholeClosesAfterItsBookkeeping) {
    // A reply cut short would put the master's stream out of step.
    std::vector<std::uint8_t> echo{0x08, 0x00, 0x00};
    echo.resize(253, 0xA5);
    expectCloseAfterAReplyFallsShort(mbapFrame(1, 1, echo));
}

#ifdef _WIN32
constexpr int kReportedReceiveBuffer = 4160;
#else
constexpr int kReportedReceiveBuffer = 2 * 4160;
#endif

TEST_F(ConnectionTest, AcceptedConnectionsGetTheirOptions) {
    LoopbackClient master = connectMaster();
    const TestSocket fd = static_cast<TestSocket>(server().connectionDescriptor(0));
    const struct {
        const char* name;
        int level;
        int option;
        int expected;
    } options[] = {
        {"no delay", IPPROTO_TCP, TCP_NODELAY, 1},
        {"keep-alive", SOL_SOCKET, SO_KEEPALIVE, 1},
        {"receive buffer (Linux reports twice the size set)", SOL_SOCKET, SO_RCVBUF, kReportedReceiveBuffer},
#ifndef _WIN32
        {"keep-alive after 60 s idle", IPPROTO_TCP, TCP_KEEPIDLE, 60},
        {"keep-alive probes every 10 s", IPPROTO_TCP, TCP_KEEPINTVL, 10},
        {"keep-alive gives up after 3 probes", IPPROTO_TCP, TCP_KEEPCNT, 3},
#endif
    };
    for (const auto& o : options) {
        SCOPED_TRACE(o.name);
        // Winsock may write a one-byte BOOLEAN for the on/off options.
        int value = 0;
        socklen_t length = sizeof value;
        ASSERT_EQ(::getsockopt(fd, o.level, o.option, reinterpret_cast<char*>(&value), &length), 0);
        EXPECT_EQ(value, o.expected);
    }
}

TEST_F(ConnectionTest, ThirtyThirdMasterWaitsInTheBacklogUntilASlotIsFree) {
    std::vector<LoopbackClient> masters;
    for (int i = 0; i < kMaxConnections; ++i) masters.push_back(connectMaster());
    LoopbackClient waiting;
    ASSERT_TRUE(waiting.connect(port));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(server().connectionCount(), kMaxConnections);

    // The pass that closes slot 3 began with every slot taken: no accept.
    masters[3].close();
    Notifications::reset();
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(server().connectionCount(), kMaxConnections - 1);
    EXPECT_EQ(Notifications::events, (Events{"close 127.0.0.1"}));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(server().connectionCount(), kMaxConnections);
    EXPECT_EQ(Notifications::events, (Events{"close 127.0.0.1", "accept 127.0.0.1"}));

    // The waiting master took the freed slot and is served.
    ASSERT_TRUE(waiting.send(unsupportedRequest(33, 1)));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(waiting.receive(9), illegalFunctionReply(33, 1));
}

TEST_F(ConnectionTest, OneConnectionIsAcceptedPerPassIntoTheLowestFreeSlot) {
    std::vector<LoopbackClient> masters;
    for (int i = 0; i < 3; ++i) masters.push_back(connectMaster());
    masters[0].close();
    masters[1].close();
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(server().connectionCount(), 1);
    LoopbackClient first;
    LoopbackClient second;
    ASSERT_TRUE(first.connect(port, "127.0.0.1", "127.0.0.5"));
    ASSERT_TRUE(second.connect(port, "127.0.0.1", "127.0.0.6"));
    Notifications::reset();
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(server().connectionCount(), 2);
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(server().connectionCount(), 3);
    // Slots are served in ascending order: slot 0 (127.0.0.5) before slot 2.
    ASSERT_TRUE(masters[2].send(unsupportedRequest(2, 1)));
    ASSERT_TRUE(second.send(unsupportedRequest(1, 1)));
    ASSERT_TRUE(first.send(unsupportedRequest(0, 1)));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(first.receive(9), illegalFunctionReply(0, 1));
    EXPECT_EQ(second.receive(9), illegalFunctionReply(1, 1));
    EXPECT_EQ(masters[2].receive(9), illegalFunctionReply(2, 1));
    EXPECT_EQ(Notifications::events,
              (Events{"accept 127.0.0.5", "accept 127.0.0.6", "request 127.0.0.5",
                      "request 127.0.0.6", "request 127.0.0.1"}));
}

TEST_F(ConnectionTest, RefusedConnectionIsClosedWithoutCloseNotification) {
    Notifications::acceptResult = 0;
    LoopbackClient master;
    ASSERT_TRUE(master.connect(port));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(server().connectionCount(), 0);
    EXPECT_TRUE(master.closedByPeer());
    EXPECT_EQ(Notifications::events, (Events{"accept 127.0.0.1"}));
}

TEST_F(ConnectionTest, ShutdownClosesEverythingWithoutNotification) {
    std::vector<LoopbackClient> masters;
    for (int i = 0; i < 3; ++i) masters.push_back(connectMaster());
    Notifications::reset();
    mbusSlave_shutdownServer(raw());
    for (LoopbackClient& master : masters) EXPECT_TRUE(master.closedByPeer());
    EXPECT_TRUE(Notifications::events.empty());
    EXPECT_EQ(server().connectionCount(), 0);
    EXPECT_EQ(pass(), MB_ERR_ILLEGAL_STATE);
    LoopbackClient late;
    EXPECT_FALSE(late.connect(port));
}

TEST_F(ConnectionTest, DestructionClosesConnections) {
    LoopbackClient master = connectMaster();
    handle.reset();
    EXPECT_TRUE(master.closedByPeer());
}

class IdleTimeOutTest : public TcpServerTest {
protected:
    void SetUp() override {
        TcpServerTest::SetUp();
        FakeClock::set(0xFFFFF000u);  // the idle timers work across the wrap
        server().setTickSource(&FakeClock::tick);
        serveEveryUnit();
    }
};

TEST_F(IdleTimeOutTest, SilentConnectionIsClosedByTheFirstPassAfterTheTimeOut) {
    ASSERT_EQ(mbusSlave_setConnectionTimeOut(raw(), 5000), MB_OK);
    start();
    LoopbackClient master = connectMaster();
    FakeClock::advance(4000);
    ASSERT_TRUE(master.send(unsupportedRequest(1, 1)));
    EXPECT_EQ(pass(), MB_OK);  // a served request restarts the idle timer
    EXPECT_EQ(master.receive(9), illegalFunctionReply(1, 1));
    FakeClock::advance(4999);
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(server().connectionCount(), 1);
    FakeClock::advance(1);
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(server().connectionCount(), 0);
    EXPECT_TRUE(master.closedByPeer());
    EXPECT_EQ(Notifications::events.back(), "close 127.0.0.1");
}

TEST_F(IdleTimeOutTest, ZeroKeepsIdleConnectionsOpen) {
    start();
    LoopbackClient master = connectMaster();
    FakeClock::advance(3600000);
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(server().connectionCount(), 1);
    EXPECT_TRUE(master.isQuiet());
}

}  // namespace
}  // namespace mbslave::test

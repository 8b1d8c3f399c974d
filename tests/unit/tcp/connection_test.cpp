// The connection rules of the Modbus/TCP server, on real loopback sockets.
#include <gtest/gtest.h>

#include <vector>

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
    ASSERT_EQ(mbusSlave_configureCallbacks(raw(), -1, nullptr, nullptr, nullptr, nullptr, nullptr,
                                           nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                           nullptr, nullptr, nullptr, nullptr),
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

TEST_F(ConnectionTest, IncompleteHeaderOrBodyClosesTheConnectionWithoutWaiting) {
    const std::vector<std::uint8_t> request = unsupportedRequest(3, 1);
    for (std::size_t sent : {std::size_t{1}, std::size_t{5}, std::size_t{6}}) {
        SCOPED_TRACE(sent);
        Notifications::reset();
        LoopbackClient master = connectMaster();
        ASSERT_TRUE(master.send({request.begin(), request.begin() + static_cast<long>(sent)}));
        EXPECT_EQ(pass(), MB_OK);
        EXPECT_TRUE(master.closedByPeer());
        EXPECT_EQ(Notifications::events, (Events{"accept 127.0.0.1", "close 127.0.0.1"}));
    }
}

TEST_F(ConnectionTest, HeaderSplitOverTwoSegmentsClosesTheConnection) {
    const std::vector<std::uint8_t> request = unsupportedRequest(3, 1);
    LoopbackClient master = connectMaster();
    ASSERT_TRUE(master.send({request.begin(), request.begin() + 3}));
    EXPECT_EQ(pass(), MB_OK);
    master.send({request.begin() + 3, request.end()});
    EXPECT_TRUE(master.closedByPeer());
    EXPECT_EQ(mbusSlave_getSuccessCounter(raw()), 0u);
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

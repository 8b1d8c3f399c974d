// The UDP server on real loopback sockets: start-up, answering the source
// of each datagram, the drop rules with their counter effects, one datagram
// per pass and the wait of a pass.
#ifndef _WIN32
#include <fcntl.h>
#endif

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/callbacks.hpp"
#include "support/fake_clock.hpp"
#include "support/frames.hpp"
#include "support/register_store.hpp"
#include "udp_fixture.hpp"

namespace mbslave::test {
namespace {

using Events = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kServedUnit = 9;

long long millisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class UdpServing : public UdpServerTest {
protected:
    void SetUp() override {
        UdpServerTest::SetUp();
        RegisterStore::reset();
        ASSERT_EQ(test::configureCallbacks(raw(), kServedUnit,
                                           {&RegisterStore::readHolding, &RegisterStore::writeHolding}),
                  MB_OK);
        start();
    }
};

TEST_F(UdpServerTest, NewServerDefaults) {
    EXPECT_EQ(mbusSlave_getPort(raw()), 502);
    EXPECT_EQ(mbusSlave_isStarted(raw()), 0);
    EXPECT_EQ(server().getRequestInfo().protocolType, MB_PROTOCOL_UDP);
    EXPECT_EQ(mbusSlave_getConnectionStatus(raw()), 0);
    // The connection settings belong to the TCP kinds.
    EXPECT_EQ(mbusSlave_setConnectionTimeOut(raw(), 1000), MB_ERR_ILLEGAL_STATE);
    EXPECT_EQ(mbusSlave_getConnectionTimeOut(raw()), 0u);
}

TEST_F(UdpServerTest, PassOfAStoppedServerIsRefusedWithoutWaiting) {
    ASSERT_EQ(mbusSlave_setTimeout(raw(), 1000), MB_OK);
    const auto started = Clock::now();
    EXPECT_EQ(pass(), MB_ERR_ILLEGAL_STATE);
    EXPECT_LT(millisecondsSince(started), 500);
}

TEST_F(UdpServerTest, StartupFailuresLeaveTheServerStopped) {
    LoopbackDatagram holder;
    ASSERT_TRUE(holder.open("127.0.0.1"));
    ASSERT_EQ(mbusSlave_setPort(raw(), holder.localPort()), MB_OK);
    EXPECT_EQ(mbusSlave_startupIpServer(raw(), "127.0.0.1"), MB_ERR_TCP_PORT_BOUND);
    EXPECT_EQ(mbusSlave_isStarted(raw()), 0);
    EXPECT_EQ(mbusSlave_startupIpServer(raw(), "no-such-host.invalid"), MB_ERR_TCPIP_CONNECTION);
    EXPECT_EQ(mbusSlave_isStarted(raw()), 0);
    EXPECT_EQ(server().serverDescriptor(), -1);
}

TEST_F(UdpServerTest, SecondServerOnABoundPortIsRefusedAndTheFirstKeepsItsTraffic) {
    serveUnit(-1);
    start(nullptr);
    for (const char* host : {static_cast<const char*>(nullptr), "127.0.0.1"}) {
        SCOPED_TRACE(host == nullptr ? "every address" : host);
        HandlePtr second(mbusSlave_createUdpProtocol());
        ASSERT_EQ(mbusSlave_setPort(second.get(), port), MB_OK);
        EXPECT_EQ(mbusSlave_startupIpServer(second.get(), host), MB_ERR_TCP_PORT_BOUND);
        EXPECT_EQ(mbusSlave_isStarted(second.get()), 0);
    }
    ASSERT_TRUE(master.sendTo(port, unsupportedRequest(1, 1)));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(master.receive(), illegalFunctionReply(1, 1));
    EXPECT_EQ(total(), 1u);
}

TEST_F(UdpServerTest, ReplyLeavesFromTheAddressTheRequestCameTo) {
    // A master on a connected socket takes datagrams from the address it
    // sent to only; the host has several (127.0.0.0/8).
    if (runsUnderWine()) {
        GTEST_SKIP() << "wine's WSASendMsg ignores the IP_PKTINFO source address (the reply leaves from "
                        "127.0.0.1); WSARecvMsg reports the request's address";
    }
    serveUnit(-1);
    start(nullptr);
    for (const char* address : {"127.0.0.2", "127.0.0.1", "127.0.0.77"}) {
        SCOPED_TRACE(address);
        LoopbackDatagram connected;
        ASSERT_TRUE(connected.open());
        ASSERT_TRUE(connected.connectTo(address, port));
        ASSERT_TRUE(connected.send(unsupportedRequest(2, 1)));
        EXPECT_EQ(pass(), MB_OK);
        EXPECT_EQ(connected.receive(), illegalFunctionReply(2, 1));
    }
}

#ifndef _WIN32  // Winsock cannot tell whether a socket is non-blocking
TEST_F(UdpServerTest, DatagramSocketIsNonBlockingWithItsBufferSizes) {
    start();
    const int fd = server().serverDescriptor();
    ASSERT_GE(fd, 0);
    EXPECT_NE(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_EQ(mbusSlave_setPort(raw(), 1), MB_ERR_ILLEGAL_STATE);

    // The system rounds 260 up to its minimum and caps 256 KiB at its
    // maximum; a socket given the same sizes by the test shows the result.
    const int reference = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(reference, 0);
    for (int option : {SO_SNDBUF, SO_RCVBUF}) {
        const int requested = option == SO_SNDBUF ? 260 : 256 * 1024;
        ::setsockopt(reference, SOL_SOCKET, option, &requested, sizeof requested);
        int expected = 0;
        int actual = 0;
        socklen_t length = sizeof expected;
        ::getsockopt(reference, SOL_SOCKET, option, &expected, &length);
        ::getsockopt(fd, SOL_SOCKET, option, &actual, &length);
        EXPECT_EQ(actual, expected) << (option == SO_SNDBUF ? "send buffer" : "receive buffer");
    }
    ::close(reference);
}
#endif

// 32 masters send 10 requests each at once: the socket holds the whole
// burst until the passes have answered it.
TEST_F(UdpServing, BurstFromManyMastersIsAnsweredWhole) {
    constexpr int kMasters = 32;
    constexpr int kRequests = 10;
    std::vector<LoopbackDatagram> masters(kMasters);
    for (LoopbackDatagram& each : masters) ASSERT_TRUE(each.open());
    for (int request = 0; request < kRequests; ++request) {
        for (LoopbackDatagram& each : masters) {
            ASSERT_TRUE(each.sendTo(port, mbapFrame(static_cast<std::uint16_t>(request), kServedUnit,
                                                   {0x03, 0x00, 0x10, 0x00, 0x02})));
        }
    }
    for (int i = 0; i < kMasters * kRequests; ++i) ASSERT_EQ(pass(), MB_OK);
    int answered = 0;
    for (LoopbackDatagram& each : masters) {
        for (int request = 0; request < kRequests; ++request) {
            answered += each.receive(100) ==
                        mbapFrame(static_cast<std::uint16_t>(request), kServedUnit, {0x03, 0x04, 0x10, 0x11, 0x10, 0x12});
        }
    }
    EXPECT_EQ(answered, kMasters * kRequests);
}

TEST_F(UdpServing, RequestIsAnsweredToItsSourceWithTheContextOfItsMaster) {
    LoopbackDatagram other;
    ASSERT_TRUE(other.open("127.0.0.9"));
    // Wine binds a UDP socket given a local address to that address's
    // interface instead, so its datagrams leave from 127.0.0.1.
    const std::string otherAddress = runsUnderWine() ? "127.0.0.1" : "127.0.0.9";
    ASSERT_TRUE(other.sendTo(port, mbapFrame(0xFFFF, kServedUnit, {0x03, 0x00, 0x10, 0x00, 0x02})));
    EXPECT_EQ(pass(), MB_OK);
    std::uint16_t fromPort = 0;
    EXPECT_EQ(other.receive(1000, &fromPort),
              mbapFrame(0xFFFF, kServedUnit, {0x03, 0x04, 0x10, 0x11, 0x10, 0x12}));
    EXPECT_EQ(fromPort, port);
    EXPECT_TRUE(master.isQuiet());

    ASSERT_EQ(RegisterStore::contexts.size(), 1u);
    const RequestInfo& seen = RegisterStore::contexts[0];
    EXPECT_EQ(seen.protocolType, MB_PROTOCOL_UDP);
    EXPECT_EQ(seen.slaveAddress, kServedUnit);
    EXPECT_EQ(seen.transactionId, 0xFFFF);
    EXPECT_EQ(std::string(seen.peerName), otherAddress);
    EXPECT_EQ(total(), 1u);
    EXPECT_EQ(success(), 1u);
    EXPECT_EQ(mbusSlave_getConnectionStatus(raw()), 1);
    EXPECT_EQ(Notifications::events, (Events{"request " + otherAddress}));

    // Each datagram is answered to its own source.
    ASSERT_TRUE(master.sendTo(port, mbapFrame(0x1234, kServedUnit, {0x06, 0x00, 0x01, 0xAB, 0xCD})));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(master.receive(), mbapFrame(0x1234, kServedUnit, {0x06, 0x00, 0x01, 0xAB, 0xCD}));
    EXPECT_EQ(RegisterStore::written, (std::vector<std::uint16_t>{0xABCD}));
    EXPECT_TRUE(other.isQuiet());
    EXPECT_EQ(Notifications::events, (Events{"request " + otherAddress, "request 127.0.0.1"}));

    mbusSlave_shutdownServer(raw());
    EXPECT_EQ(mbusSlave_getConnectionStatus(raw()), 0);
    EXPECT_EQ(pass(), MB_ERR_ILLEGAL_STATE);
}

struct DroppedDatagram {
    const char* name;
    Bytes bytes;
};

void PrintTo(const DroppedDatagram& c, std::ostream* os) { *os << c.name; }

Bytes resized(Bytes bytes, std::size_t size) {
    bytes.resize(size, 0x00);
    return bytes;
}

class UdpDroppedDatagrams : public UdpServing,
                            public ::testing::WithParamInterface<DroppedDatagram> {};

TEST_P(UdpDroppedDatagrams, AreNeitherAnsweredNorCounted) {
    ASSERT_TRUE(master.sendTo(port, GetParam().bytes));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_TRUE(master.isQuiet(20));
    EXPECT_EQ(total(), 0u);
    EXPECT_EQ(success(), 0u);
    EXPECT_TRUE(RegisterStore::contexts.empty());
    EXPECT_TRUE(Notifications::events.empty());

    // The server goes on serving.
    ASSERT_TRUE(master.sendTo(port, unsupportedRequest(3, kServedUnit)));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(master.receive(), illegalFunctionReply(3, kServedUnit));
}

const Bytes kRead = mbapFrame(1, kServedUnit, {0x03, 0x00, 0x00, 0x00, 0x01});
const Bytes kLongPdu(254, 0x08);

INSTANTIATE_TEST_SUITE_P(
    Datagrams, UdpDroppedDatagrams,
    ::testing::Values(
        DroppedDatagram{"empty", {}},
        DroppedDatagram{"fiveBytes", resized(kRead, 5)},
        DroppedDatagram{"headerOnlyWithLengthZero", mbapFrame(1, 0, {}, 0, 0)},
        DroppedDatagram{"headerOnlyWithLengthOne", resized(mbapFrame(1, 0, {}, 0, 1), 6)},
        DroppedDatagram{"lengthZeroWithBody", mbapFrame(1, kServedUnit, {0x03}, 0, 0)},
        DroppedDatagram{"shorterThanLength", resized(kRead, kRead.size() - 1)},
        DroppedDatagram{"longerThanLength", resized(kRead, kRead.size() + 1)},
        DroppedDatagram{"protocolIdOne", mbapFrame(1, kServedUnit, {0x03, 0, 0, 0, 1}, 1)},
        DroppedDatagram{"protocolIdHighByte", mbapFrame(1, kServedUnit, {0x03, 0, 0, 0, 1}, 0x100)},
        DroppedDatagram{"length255In261Bytes", mbapFrame(1, kServedUnit, Bytes(254, 0x08))},
        DroppedDatagram{"lengthFieldOfACutDatagram",
                        resized(mbapFrame(1, kServedUnit, {0x03, 0, 0, 0, 1}, 0, 254), 400)},
        DroppedDatagram{"largestDatagram", resized(kRead, 65507)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UdpServing, UnitWithoutDataTableIsCountedButNotAnswered) {
    ASSERT_TRUE(master.sendTo(port, unsupportedRequest(1, kServedUnit + 1)));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_TRUE(master.isQuiet(20));
    EXPECT_EQ(total(), 1u);
    EXPECT_EQ(success(), 0u);
    EXPECT_TRUE(Notifications::events.empty());
}

TEST_F(UdpServing, UnitIdentifiersZeroAndTwoHundredFiftyFiveAreOrdinaryAddresses) {
    serveUnit(0);
    serveUnit(255);
    for (std::uint8_t unit : {0, 255}) {
        ASSERT_TRUE(master.sendTo(port, unsupportedRequest(7, unit)));
        EXPECT_EQ(pass(), MB_OK);
        EXPECT_EQ(master.receive(), illegalFunctionReply(7, unit));
    }
}

TEST_F(UdpServing, DisabledExceptionRepliesSendNothingButCount) {
    mbusSlave_disableExceptionReplies(raw());
    ASSERT_TRUE(master.sendTo(port, unsupportedRequest(1, kServedUnit)));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_TRUE(master.isQuiet(20));
    EXPECT_EQ(total(), 1u);
    EXPECT_EQ(success(), 1u);
    EXPECT_EQ(Notifications::events, (Events{"request 127.0.0.1"}));
}

TEST_F(UdpServing, LargestRequestAndReplyAre260Bytes) {
    // Diagnostics sub-function 0 echoes its data.
    Bytes echo{0x08, 0x00, 0x00};
    for (int i = 0; echo.size() < 253; ++i) echo.push_back(static_cast<std::uint8_t>(i * 3));
    const Bytes request = mbapFrame(0x0102, kServedUnit, echo);
    ASSERT_EQ(request.size(), 260u);
    ASSERT_TRUE(master.sendTo(port, request));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(master.receive(), request);
}

TEST_F(UdpServing, TwoWaitingDatagramsAreServedInTwoPasses) {
    ASSERT_TRUE(master.sendTo(port, unsupportedRequest(1, kServedUnit)));
    ASSERT_TRUE(master.sendTo(port, unsupportedRequest(2, kServedUnit)));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(master.receive(), illegalFunctionReply(1, kServedUnit));
    EXPECT_TRUE(master.isQuiet(20));
    EXPECT_EQ(success(), 1u);
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(master.receive(), illegalFunctionReply(2, kServedUnit));
    EXPECT_EQ(success(), 2u);
}

TEST_F(UdpServing, IdlePassReturnsAfterTheProtocolTimeOut) {
    ASSERT_EQ(mbusSlave_setTimeout(raw(), 200), MB_OK);
    const auto started = Clock::now();
    EXPECT_EQ(pass(), MB_OK);
    const long long waited = millisecondsSince(started);
    EXPECT_GE(waited, 190);
    EXPECT_LT(waited, 2000);
}

TEST_F(UdpServing, TimeOutZeroWaitsUntilADatagramArrives) {
    ASSERT_EQ(mbusSlave_setTimeout(raw(), 0), MB_OK);
    const std::uint16_t serverPort = port;
    std::thread late([serverPort] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        LoopbackDatagram sender;
        sender.open();
        sender.sendTo(serverPort, mbapFrame(1, 0, {0x03}, 1));  // dropped, but wakes the pass
    });
    const auto started = Clock::now();
    EXPECT_EQ(pass(), MB_OK);
    const long long waited = millisecondsSince(started);
    late.join();
    EXPECT_GE(waited, 250);
    EXPECT_EQ(total(), 0u);
}

struct TimeOuts {
    static inline int count = 0;
    static void onTimeOut() { ++count; }
};

TEST_F(UdpServing, SilentAddressGetsItsMasterTimeOutFromALaterPass) {
    TimeOuts::count = 0;
    FakeClock::set(1000);
    server().setTickSource(&FakeClock::tick);
    ASSERT_EQ(mbusSlave_setTimeout(raw(), 10), MB_OK);
    ASSERT_EQ(mbusSlave_configureCallbacks(raw(), 3, nullptr, nullptr, nullptr, nullptr, nullptr,
                                           nullptr, nullptr, nullptr, nullptr,
                                           &TimeOuts::onTimeOut, nullptr, nullptr, nullptr,
                                           nullptr, nullptr),
              MB_OK);
    FakeClock::advance(9);
    ASSERT_TRUE(master.sendTo(port, unsupportedRequest(1, 3)));
    EXPECT_EQ(pass(), MB_OK);  // served at 1009: restarts the address timer
    EXPECT_EQ(master.receive(), illegalFunctionReply(1, 3));
    FakeClock::advance(9);
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(TimeOuts::count, 0);
    FakeClock::advance(1);
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(TimeOuts::count, 1);
}

// Datagrams of every size from 0 to 300 bytes and a few up to the largest
// UDP payload, with random contents: a header made valid on every other one.
// Malformed ones are dropped uncounted; every reply fits 260 bytes and
// echoes the request's header fields.
TEST_F(UdpServerTest, RandomDatagramsOfEverySizeAreDroppedOrAnsweredWithinBounds) {
    serveUnit(-1);
    start();
    std::mt19937 rng(77);
    std::vector<std::size_t> sizes;
    for (std::size_t size = 0; size <= 300; ++size) sizes.push_back(size);
    for (std::size_t size : {1000u, 4096u, 8192u, 32768u, 65507u}) sizes.push_back(size);
    std::uint32_t wellFormed = 0;
    for (std::size_t size : sizes) {
        for (int variant = 0; variant < 2; ++variant) {
            Bytes datagram(size);
            for (auto& b : datagram) b = static_cast<std::uint8_t>(rng());
            const bool valid = variant == 1 && size >= 7 && size <= 260;
            if (valid) {
                datagram[2] = 0;
                datagram[3] = 0;
                datagram[4] = static_cast<std::uint8_t>((size - 6) >> 8);
                datagram[5] = static_cast<std::uint8_t>(size - 6);
                if (size > 7) datagram[7] = static_cast<std::uint8_t>(datagram[7] % 50);
                ++wellFormed;
            }
            ASSERT_TRUE(master.sendTo(port, datagram));
            ASSERT_EQ(pass(), MB_OK);
            const Bytes reply = master.receive(valid ? 1000 : 0).value_or(Bytes{});
            if (!valid) {
                // Random headers are malformed unless the dice say otherwise.
                const bool accidental = size >= 7 && size <= 260 && datagram[2] == 0 &&
                                        datagram[3] == 0 &&
                                        ((datagram[4] << 8) | datagram[5]) == int(size) - 6;
                if (accidental) ++wellFormed;
                EXPECT_EQ(reply.empty(), !accidental) << "size " << size;
                continue;
            }
            ASSERT_GE(reply.size(), 9u) << "size " << size;
            ASSERT_LE(reply.size(), 260u);
            EXPECT_EQ(reply[0], datagram[0]);
            EXPECT_EQ(reply[1], datagram[1]);
            EXPECT_EQ(reply[2], 0);
            EXPECT_EQ(reply[3], 0);
            EXPECT_EQ(((reply[4] << 8) | reply[5]) + 6, static_cast<int>(reply.size()));
            EXPECT_EQ(reply[6], datagram[6]);
        }
    }
    EXPECT_EQ(total(), wellFormed);
    EXPECT_EQ(success(), wellFormed);
}

}  // namespace
}  // namespace mbslave::test

namespace mbslave::test {
namespace {

// A burst of requests: whatever the socket kept is served one datagram per
// pass, every served one answered once, and the server stays responsive.
TEST_F(UdpServerTest, FloodIsServedOneDatagramPerPass) {
    serveUnit(-1);
    start();
    constexpr int kBurst = 300;
    for (int i = 0; i < kBurst; ++i) {
        ASSERT_TRUE(master.sendTo(port, unsupportedRequest(static_cast<std::uint16_t>(i), 1)));
    }
    int replies = 0;
    for (int passes = 0; passes <= kBurst; ++passes) {
        const std::uint32_t before = success();
        ASSERT_EQ(pass(), MB_OK);
        const std::uint32_t served = success() - before;
        ASSERT_LE(served, 1u);
        if (served == 0) break;
        const std::vector<std::uint8_t> reply = master.receive(1000).value_or(Bytes{});
        ASSERT_EQ(reply.size(), 9u);
        ++replies;
    }
    EXPECT_GE(replies, 1);
    EXPECT_EQ(success(), static_cast<std::uint32_t>(replies));
    EXPECT_EQ(total(), static_cast<std::uint32_t>(replies));
    EXPECT_TRUE(master.isQuiet(20));

    ASSERT_TRUE(master.sendTo(port, unsupportedRequest(0xABCD, 1)));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(master.receive(), illegalFunctionReply(0xABCD, 1));
}

}  // namespace
}  // namespace mbslave::test

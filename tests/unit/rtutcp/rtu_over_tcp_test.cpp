// RTU frames over TCP connections on real loopback sockets: framing, CRC,
// the close rules with their counter effects, and what the application sees.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "rtu_tcp_fixture.hpp"
#include "support/callbacks.hpp"
#include "support/fake_clock.hpp"

namespace mbslave::test {
namespace {

using Events = std::vector<std::string>;

constexpr std::uint8_t kServedUnit = 5;

// FC3, two registers from wire address 0x0010 (references 17 and 18).
Bytes readTwoRegisters(std::uint8_t unit) { return rtuFrame(unit, {0x03, 0x00, 0x10, 0x00, 0x02}); }

Bytes readTwoRegistersReply(std::uint8_t unit) {
    return rtuFrame(unit, {0x03, 0x04, 0x10, 0x11, 0x10, 0x12});
}

struct TimeOutCounter {
    static inline int count = 0;
    static void onTimeOut() { ++count; }
};

class RtuOverTcpServing : public RtuOverTcpTest {
protected:
    void SetUp() override {
        RtuOverTcpTest::SetUp();
        serveRegisters(kServedUnit);
        start();
    }
};

TEST_F(RtuOverTcpTest, NewServerDefaults) {
    EXPECT_EQ(mbusSlave_getPort(raw()), 1100);
    EXPECT_EQ(mbusSlave_getConnectionTimeOut(raw()), 0u);
    EXPECT_EQ(mbusSlave_isStarted(raw()), 0);
    EXPECT_EQ(server().getRequestInfo().protocolType, MB_PROTOCOL_RTU_OVER_TCP);
    EXPECT_EQ(pass(), MB_ERR_ILLEGAL_STATE);
}

TEST_F(RtuOverTcpServing, RequestIsServedWithTheContextOfItsConnection) {
    LoopbackClient master = connectMaster();
    ASSERT_TRUE(master.send(readTwoRegisters(kServedUnit)));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(master.receive(9), readTwoRegistersReply(kServedUnit));

    ASSERT_EQ(RegisterStore::contexts.size(), 1u);
    const RequestInfo& seen = RegisterStore::contexts[0];
    EXPECT_EQ(seen.protocolType, MB_PROTOCOL_RTU_OVER_TCP);
    EXPECT_EQ(seen.slaveAddress, kServedUnit);
    EXPECT_STREQ(seen.peerName, "127.0.0.1");
    EXPECT_EQ(seen.transactionId, 0);
    EXPECT_EQ(total(), 1u);
    EXPECT_EQ(success(), 1u);
    EXPECT_EQ(mbusSlave_getConnectionStatus(raw()), 1);
    EXPECT_EQ(Notifications::events, (Events{"accept 127.0.0.1", "request 127.0.0.1"}));
    EXPECT_TRUE(master.isQuiet());

    mbusSlave_shutdownServer(raw());
    EXPECT_EQ(mbusSlave_getConnectionStatus(raw()), 0);
}

TEST_F(RtuOverTcpServing, WrittenRegistersReachTheCallbackAndTheConnectionStays) {
    LoopbackClient master = connectMaster();
    // FC16, wire address 0x0100, two registers 0xBEEF 0x0102.
    ASSERT_TRUE(master.send(rtuFrame(kServedUnit, {0x10, 0x01, 0x00, 0x00, 0x02, 0x04, 0xBE, 0xEF,
                                                   0x01, 0x02})));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(master.receive(8), rtuFrame(kServedUnit, {0x10, 0x01, 0x00, 0x00, 0x02}));
    EXPECT_EQ(RegisterStore::writtenStart, 0x101);
    EXPECT_EQ(RegisterStore::written, (std::vector<std::uint16_t>{0xBEEF, 0x0102}));

    ASSERT_TRUE(master.send(readTwoRegisters(kServedUnit)));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(master.receive(9), readTwoRegistersReply(kServedUnit));
    EXPECT_EQ(success(), 2u);
}

// A frame that closes the connection: counted in the total counter only,
// no reply, no data access, close notified.
struct ClosingFrame {
    const char* name;
    Bytes bytes;
};

void PrintTo(const ClosingFrame& c, std::ostream* os) { *os << c.name; }

Bytes withBadCrc(Bytes frame) {
    frame.back() ^= 0x01;
    return frame;
}

Bytes concatenated(Bytes first, const Bytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

Bytes prefix(const Bytes& frame, std::size_t length) { return Bytes(frame.begin(), frame.begin() + length); }

Bytes oversized() {
    // A 300-byte frame: the one read takes its first 256 bytes, whose last
    // two are not their CRC.
    Bytes echo{0x08, 0x00, 0x00};
    echo.resize(297, 0x5A);
    return rtuFrame(kServedUnit, echo);
}

class RtuOverTcpClosingFrames : public RtuOverTcpServing,
                                public ::testing::WithParamInterface<ClosingFrame> {};

TEST_P(RtuOverTcpClosingFrames, CloseTheConnectionAndCountOnce) {
    LoopbackClient master = connectMaster();
    ASSERT_TRUE(master.send(GetParam().bytes));
    // A frame that is not whole yet is closed after the protocol time-out.
    for (int i = 0; i < 10 && server().connectionCount() > 0; ++i) EXPECT_EQ(pass(), MB_OK);
    EXPECT_TRUE(master.closedByPeer());
    EXPECT_EQ(server().connectionCount(), 0);
    EXPECT_EQ(total(), 1u);
    EXPECT_EQ(success(), 0u);
    EXPECT_TRUE(RegisterStore::contexts.empty());
    EXPECT_EQ(mbusSlave_getConnectionStatus(raw()), 0);
    EXPECT_EQ(Notifications::events, (Events{"accept 127.0.0.1", "close 127.0.0.1"}));
}

INSTANTIATE_TEST_SUITE_P(
    Frames, RtuOverTcpClosingFrames,
    ::testing::Values(
        ClosingFrame{"singleByte", {kServedUnit}},
        ClosingFrame{"threeBytesWithValidCrc", rtuFrame(kServedUnit, {})},
        ClosingFrame{"wrongCrc", withBadCrc(readTwoRegisters(kServedUnit))},
        ClosingFrame{"unitWithoutDataTable", readTwoRegisters(kServedUnit + 1)},
        ClosingFrame{"firstThreeBytesOfASplitFrame", prefix(readTwoRegisters(kServedUnit), 3)},
        ClosingFrame{"firstSixBytesOfASplitFrame", prefix(readTwoRegisters(kServedUnit), 6)},
        ClosingFrame{"wrongCrcBeforeAValidFrame",
                     concatenated(withBadCrc(readTwoRegisters(kServedUnit)), readTwoRegisters(kServedUnit))},
        ClosingFrame{"byteCountBeyond256Bytes", rtuFrame(kServedUnit, {0x10, 0, 0, 0, 125, 250})},
        ClosingFrame{"moreThan256Bytes", oversized()}),
    [](const auto& info) { return std::string(info.param.name); });

struct StatusCallbacks {
    static int exceptionStatus(const RequestInfo*) { return 0x5A; }
    static int slaveId(char buffer[], int, const RequestInfo*) {
        buffer[0] = 'm';
        buffer[1] = 'b';
        return 2;
    }
    static int running(const RequestInfo*) { return 1; }
};

TEST_F(RtuOverTcpServing, FourByteRequestsAreAnswered) {
    ASSERT_EQ(mbusSlave_configureCallbacks(raw(), kServedUnit, nullptr, nullptr, nullptr, nullptr,
                                           nullptr, nullptr, nullptr, nullptr,
                                           &StatusCallbacks::exceptionStatus, nullptr, nullptr,
                                           nullptr, &StatusCallbacks::slaveId,
                                           &StatusCallbacks::running, nullptr),
              MB_OK);
    const struct {
        const char* name;
        Bytes request;
        Bytes reply;
    } cases[] = {
        {"read exception status", rtuFrame(kServedUnit, {0x07}), rtuFrame(kServedUnit, {0x07, 0x5A})},
        {"report slave id", rtuFrame(kServedUnit, {0x11}),
         rtuFrame(kServedUnit, {0x11, 0x03, 'm', 'b', 0xFF})},
    };
    LoopbackClient master = connectMaster();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(c.request.size(), 4u);
        ASSERT_TRUE(master.send(c.request));
        EXPECT_EQ(pass(), MB_OK);
        EXPECT_EQ(master.receive(c.reply.size()), c.reply);
    }
    EXPECT_EQ(server().connectionCount(), 1);
    EXPECT_EQ(total(), 2u);
    EXPECT_EQ(success(), 2u);
}

// A frame ends where the length its bytes tell ends, however TCP cut it:
// split after any byte, or several frames in one segment, served one per
// pass. A frame that does not tell its length (Diagnostics) ends where the
// bytes received end.
TEST_F(RtuOverTcpServing, FramesAreTakenByTheLengthTheyTell) {
    server().setTickSource(&FakeClock::tick);
    const Bytes frame = readTwoRegisters(kServedUnit);
    LoopbackClient master = connectMaster();
    for (std::size_t split = 1; split < frame.size(); ++split) {
        SCOPED_TRACE(split);
        ASSERT_TRUE(master.send(prefix(frame, split)));
        EXPECT_EQ(pass(), MB_OK);
        EXPECT_TRUE(master.isQuiet(0));
        FakeClock::advance(kPassTimeOut - 1);
        ASSERT_TRUE(master.send(Bytes(frame.begin() + static_cast<long>(split), frame.end())));
        EXPECT_EQ(pass(), MB_OK);
        EXPECT_EQ(master.receive(9), readTwoRegistersReply(kServedUnit));
    }
    const Bytes diagnostics = rtuFrame(kServedUnit, {0x08, 0x00, 0x00, 0x12, 0x34});
    const Bytes fourBytes = rtuFrame(kServedUnit, {0x07});  // without callback: status 0
    ASSERT_TRUE(master.send(concatenated(concatenated(frame, fourBytes), concatenated(frame, diagnostics))));
    const Bytes replies[] = {readTwoRegistersReply(kServedUnit), rtuFrame(kServedUnit, {0x07, 0x00}),
                             readTwoRegistersReply(kServedUnit), diagnostics};
    for (const Bytes& reply : replies) {
        EXPECT_EQ(pass(), MB_OK);
        EXPECT_EQ(master.receive(reply.size()), reply);
        EXPECT_TRUE(master.isQuiet(0));  // one frame per pass
    }
    EXPECT_EQ(total(), frame.size() - 1 + 4);
    EXPECT_EQ(success(), frame.size() - 1 + 4);
    EXPECT_EQ(server().connectionCount(), 1);
}

TEST_F(RtuOverTcpServing, MasterClosingOrResettingIsCountedAndNotified) {
    for (bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "orderly close");
        Notifications::events.clear();
        mbusSlave_resetTotalCounter(raw());
        LoopbackClient master = connectMaster();
        if (reset) {
            master.reset();
        } else {
            master.close();
        }
        EXPECT_EQ(pass(), MB_OK);
        EXPECT_EQ(server().connectionCount(), 0);
        EXPECT_EQ(total(), 1u);
        EXPECT_EQ(success(), 0u);
        EXPECT_EQ(Notifications::events, (Events{"accept 127.0.0.1", "close 127.0.0.1"}));
    }
}

TEST_F(RtuOverTcpServing, SlaveAddressZeroIsAnOrdinaryAddress) {
    serveRegisters(0);
    LoopbackClient master = connectMaster();
    ASSERT_TRUE(master.send(readTwoRegisters(0)));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(master.receive(9), readTwoRegistersReply(0));
    ASSERT_EQ(RegisterStore::contexts.size(), 1u);
    EXPECT_EQ(RegisterStore::contexts[0].slaveAddress, 0);
}

TEST_F(RtuOverTcpServing, DisabledExceptionRepliesSendNothingCountAndKeepTheConnection) {
    LoopbackClient master = connectMaster();
    const Bytes unsupported = rtuFrame(kServedUnit, {kUnsupportedFunction, 0x00});
    mbusSlave_disableExceptionReplies(raw());
    ASSERT_TRUE(master.send(unsupported));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_TRUE(master.isQuiet());
    EXPECT_EQ(success(), 1u);
    EXPECT_EQ(server().connectionCount(), 1);

    mbusSlave_enableExceptionReplies(raw());
    ASSERT_TRUE(master.send(unsupported));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(master.receive(5), rtuFrame(kServedUnit, {kUnsupportedFunction | 0x80, 0x01}));
    EXPECT_EQ(total(), 2u);
    EXPECT_EQ(success(), 2u);
}

TEST_F(RtuOverTcpServing, LargestRequestAndReplyAre256BytesWithTheirCrc) {
    // Diagnostics sub-function 0 echoes the request: 254 bytes from the
    // address on, 256 with the CRC, both ways.
    Bytes echo{0x08, 0x00, 0x00};
    for (int i = 0; echo.size() < 253; ++i) echo.push_back(static_cast<std::uint8_t>(i * 7));
    const Bytes request = rtuFrame(kServedUnit, echo);
    ASSERT_EQ(request.size(), 256u);
    LoopbackClient master = connectMaster();
    ASSERT_TRUE(master.send(request));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(master.receive(300, 200), request);
    EXPECT_EQ(success(), 1u);
}

TEST_F(RtuOverTcpServing, EveryReadableConnectionIsServedInOnePass) {
    LoopbackClient first = connectMaster();
    LoopbackClient second = connectMaster();
    ASSERT_TRUE(first.send(readTwoRegisters(kServedUnit)));
    ASSERT_TRUE(second.send(readTwoRegisters(kServedUnit)));
    ASSERT_TRUE(second.isQuiet(50));  // let both frames arrive before the pass
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(first.receive(9), readTwoRegistersReply(kServedUnit));
    EXPECT_EQ(second.receive(9), readTwoRegistersReply(kServedUnit));
    EXPECT_EQ(success(), 2u);
}

TEST_F(RtuOverTcpServing, ReplyThatCannotLeaveWholeClosesAfterItsBookkeeping) {
    Bytes echo{0x08, 0x00, 0x00};
    echo.resize(253, 0xA5);
    expectCloseAfterAReplyFallsShort(rtuFrame(kServedUnit, echo));
}

TEST_F(RtuOverTcpServing, AcceptedConnectionsGetTheirOwnReceiveBuffer) {
    // The receive buffer of an accepted connection is observed through the
    // descriptor the server holds: Linux reports twice the requested size,
    // Winsock the size itself.
    LoopbackClient master = connectMaster();
    int size = 0;
    socklen_t length = sizeof size;
    ASSERT_EQ(::getsockopt(static_cast<TestSocket>(server().connectionDescriptor(0)), SOL_SOCKET, SO_RCVBUF,
                           reinterpret_cast<char*>(&size), &length),
              0);
#ifdef _WIN32
    EXPECT_EQ(size, 4096);
#else
    EXPECT_EQ(size, 2 * 4096);
#endif
}

// Random traffic: frames with a valid CRC and random contents, of the length
// their function code tells (8 bytes for codes 1-6, any length for codes
// that do not tell it), are answered with one reply of at most 256 bytes and
// a valid CRC; random bytes without a valid CRC close their connection, at
// once or after the protocol time-out. Nothing else happens.
TEST_F(RtuOverTcpTest, RandomFramesGetValidRepliesAndGarbageClosesItsConnection) {
    ASSERT_EQ(test::configureCallbacks(raw(), -1,
                                       {&RegisterStore::readHolding, &RegisterStore::writeHolding}),
              MB_OK);
    start();
    std::mt19937 rng(2024);
    const std::uint8_t untoldCodes[] = {0, 8, 9, 10, 13, 14, 18, 19, 25, 30, 41, 44, 49, 0x83};
    LoopbackClient master = connectMaster();
    std::uint32_t reads = 0;
    for (int round = 0; round < 400; ++round) {
        const bool garbage = round % 4 == 3;
        const bool fixedLength = round % 2 == 0;
        Bytes bytes(garbage ? 1 + rng() % 256 : fixedLength ? 6 : 3 + rng() % 252);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
        if (!garbage) {
            bytes[1] = fixedLength ? static_cast<std::uint8_t>(1 + rng() % 6)
                                   : untoldCodes[rng() % sizeof untoldCodes];
            bytes.resize(bytes.size() + 2);
            appendCrc16(bytes.data(), static_cast<int>(bytes.size()) - 2);
        } else if (bytes.size() >= 2 && hasValidCrc16(bytes.data(), static_cast<int>(bytes.size()))) {
            bytes.back() ^= 1;
        }
        ASSERT_TRUE(master.send(bytes));
        ASSERT_EQ(pass(), MB_OK);
        ++reads;
        if (garbage) {
            for (int i = 0; i < 10 && server().connectionCount() > 0; ++i) ASSERT_EQ(pass(), MB_OK);
            ASSERT_TRUE(master.closedByPeer()) << "round " << round;
            ASSERT_TRUE(master.connect(port));
            ASSERT_EQ(pass(), MB_OK);
            ASSERT_EQ(server().connectionCount(), 1);
            continue;
        }
        const Bytes reply = master.receive(2, 1000);
        ASSERT_EQ(reply.size(), 2u) << "round " << round;
        Bytes whole = reply;
        const Bytes rest = master.receive(300, 0);
        whole.insert(whole.end(), rest.begin(), rest.end());
        ASSERT_LE(whole.size(), 256u);
        ASSERT_GE(whole.size(), 5u);
        EXPECT_TRUE(hasValidCrc16(whole.data(), static_cast<int>(whole.size()))) << "round " << round;
        EXPECT_EQ(whole[0], bytes[0]);
    }
    EXPECT_EQ(total(), reads);
    EXPECT_EQ(success(), 300u);
}

}  // namespace
}  // namespace mbslave::test

namespace mbslave::test {
namespace {

// The idle time-out and the master supervision run as on the Modbus/TCP
// server; a served RTU request restarts both.
TEST_F(RtuOverTcpTest, ServedRequestRestartsIdleAndMasterTimers) {
    FakeClock::set(0xFFFFF000u);
    server().setTickSource(&FakeClock::tick);
    TimeOutCounter::count = 0;
    ASSERT_EQ(mbusSlave_setTimeout(raw(), 1000), MB_OK);
    ASSERT_EQ(mbusSlave_configureCallbacks(raw(), kServedUnit, &RegisterStore::readHolding,
                                           nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                           nullptr, nullptr, &TimeOutCounter::onTimeOut, nullptr,
                                           nullptr, nullptr, nullptr, nullptr),
              MB_OK);
    ASSERT_EQ(mbusSlave_setConnectionTimeOut(raw(), 5000), MB_OK);
    start();
    LoopbackClient master = connectMaster();

    FakeClock::advance(999);
    ASSERT_TRUE(master.send(readTwoRegisters(kServedUnit)));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(master.receive(9), readTwoRegistersReply(kServedUnit));
    EXPECT_EQ(mbusSlave_getConnectionStatus(raw()), 1);
    FakeClock::advance(999);
    EXPECT_EQ(mbusSlave_getConnectionStatus(raw()), 1);
    ASSERT_EQ(mbusSlave_setTimeout(raw(), 10), MB_OK);  // keep the idle passes short
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(TimeOutCounter::count, 0);
    FakeClock::advance(1);
    EXPECT_EQ(mbusSlave_getConnectionStatus(raw()), 0);
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(TimeOutCounter::count, 1);

    FakeClock::advance(3999);
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(server().connectionCount(), 1);
    FakeClock::advance(1);
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(server().connectionCount(), 0);
    EXPECT_EQ(Notifications::events.back(), "close 127.0.0.1");
}

}  // namespace
}  // namespace mbslave::test

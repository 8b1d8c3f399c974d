// Modbus/TCP framing under attack: MBAP lengths at and beyond the limits,
// and a connection flooding the server with malformed requests while
// another master waits for its answer.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "api/protocol_handle.hpp"
#include "ip/tcp_protocol.hpp"
#include "support/loopback_client.hpp"
#include "support/mbap.hpp"
#include "support/modbus_requests.hpp"
#include "support/permissive_table.hpp"

namespace mbslave::test {
namespace {

constexpr std::uint8_t kUnit = 7;

class TcpFramingAttack : public ::testing::Test {
protected:
    void SetUp() override {
        handle = mbusSlave_createTcpProtocol();
        ASSERT_NE(handle, nullptr);
        ASSERT_EQ(mbusSlave_setTimeout(handle, 20), MB_OK);
        protocolOf(handle)->setDataTable(-1, &table);
        ASSERT_EQ(mbusSlave_setPort(handle, 0), MB_OK);
        ASSERT_EQ(mbusSlave_startupIpServer(handle, "127.0.0.1"), MB_OK);
        port = server().boundPort();
    }
    void TearDown() override { mbusSlave_destroyProtocol(handle); }

    TcpProtocol& server() { return *protocolAs<TcpProtocol>(handle); }
    void pass() { ASSERT_EQ(mbusSlave_serverLoop(handle), MB_OK); }

    LoopbackClient connectMaster() {
        LoopbackClient master;
        EXPECT_TRUE(master.connect(port));
        const int before = server().connectionCount();
        pass();
        EXPECT_EQ(server().connectionCount(), before + 1);
        return master;
    }

    // Runs passes until the server has seen every master leave.
    void awaitNoConnection() {
        for (int i = 0; i < 10 && server().connectionCount() > 0; ++i) pass();
        ASSERT_EQ(server().connectionCount(), 0);
    }

    void expectValidRequestAnswered(LoopbackClient& master, const std::string& after) {
        ASSERT_TRUE(master.send(mbapFrame(0x4242, readRequest(kUnit, 4, 0x20, 9)))) << after;
        pass();
        EXPECT_EQ(readMbapReply(master, 0x4242), readReply(kUnit, 4, 0x20, 9)) << after;
    }

    MbusSlaveHandle* handle = nullptr;
    PermissiveTable table;
    std::uint16_t port = 0;
};

TEST_F(TcpFramingAttack, MbapLengthsAtAndBeyondTheLimits) {
    Bytes largestEcho{kUnit, 8, 0, 0};
    largestEcho.resize(254, 0x3C);  // unit identifier and PDU fill the frame
    const struct {
        const char* name;
        Bytes frame;
        std::optional<Bytes> reply;  // nothing: the connection is closed
        std::uint32_t counted;       // raise of the total counter
    } cases[] = {
        {"length 0", mbapFrame(1, {}, 0), std::nullopt, 0},
        {"length 0 with a body", mbapFrame(1, {kUnit, 3, 0, 0, 0, 1}, 0), std::nullopt, 0},
        {"length 1", mbapFrame(1, {kUnit}), exceptionReply(kUnit, 0, 1), 1},
        {"length 254", mbapFrame(1, largestEcho), largestEcho, 1},
        {"length 255", mbapFrame(1, Bytes(255, 0x11)), std::nullopt, 0},
        {"length 0xFFFF", mbapFrame(1, Bytes(300, 0x22), 0xFFFF), std::nullopt, 0},
        {"length 254 with 10 bytes", mbapFrame(1, Bytes(10, 0x33), 254), std::nullopt, 1},
    };
    for (const auto& attack : cases) {
        LoopbackClient master = connectMaster();
        const std::uint32_t totalBefore = mbusSlave_getTotalCounter(handle);
        ASSERT_TRUE(master.send(attack.frame)) << attack.name;
        pass();
        if (attack.reply) {
            EXPECT_EQ(readMbapReply(master, 1), attack.reply) << attack.name;
            expectValidRequestAnswered(master, attack.name);
        } else {
            // A request that is not whole yet is closed after the protocol time-out.
            for (int i = 0; i < 10 && server().connectionCount() > 0; ++i) pass();
            EXPECT_TRUE(master.closedByPeer()) << attack.name;
            EXPECT_EQ(server().connectionCount(), 0) << attack.name;
            master.close();
            LoopbackClient next = connectMaster();
            expectValidRequestAnswered(next, attack.name);
        }
        master.close();
        awaitNoConnection();
        // The master's leaving is counted by nothing either.
        EXPECT_EQ(mbusSlave_getTotalCounter(handle) - totalBefore, attack.counted + 1) << attack.name;
    }
    EXPECT_EQ(table.writes, 0);
}

// One pass serves one request per readable connection: however much an
// attacker queues, the other master's request is answered in the same pass.
TEST_F(TcpFramingAttack, MalformedBurstDoesNotDelayAnotherConnectionBeyondOnePass) {
    LoopbackClient attacker = connectMaster();
    LoopbackClient victim = connectMaster();
    Bytes burst;
    for (int i = 0; i < 200; ++i) {
        const Bytes malformed = mbapFrame(static_cast<std::uint16_t>(i), {kUnit, 16, 0, 0, 0, 123, 6, 1, 2, 3, 4, 5, 6});
        burst.insert(burst.end(), malformed.begin(), malformed.end());
    }
    ASSERT_TRUE(attacker.send(burst));
    for (int round = 0; round < 20; ++round) {
        const std::uint16_t transactionId = static_cast<std::uint16_t>(0x1000 + round);
        ASSERT_TRUE(victim.send(mbapFrame(transactionId, readRequest(kUnit, 3, round, 5))));
        pass();
        EXPECT_EQ(readMbapReply(victim, transactionId, 50), readReply(kUnit, 3, round, 5)) << round;
    }
    // The attacker was served one request per pass, in order.
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(readMbapReply(attacker, static_cast<std::uint16_t>(i), 50), exceptionReply(kUnit, 16, 3)) << i;
    }

    // Garbage that ends a connection does not delay the victim either.
    LoopbackClient vandal = connectMaster();
    ASSERT_TRUE(vandal.send(Bytes(1000, 0xFF)));
    ASSERT_TRUE(victim.send(mbapFrame(0x2000, readRequest(kUnit, 1, 0, 33))));
    pass();
    EXPECT_EQ(readMbapReply(victim, 0x2000, 50), readReply(kUnit, 1, 0, 33));
    EXPECT_TRUE(vandal.closedByPeer());
    EXPECT_EQ(server().connectionCount(), 2);
}

}  // namespace
}  // namespace mbslave::test

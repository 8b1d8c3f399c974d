// The platform socket layer: what the servers rely on from it.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "platform/socket.hpp"
#include "support/loopback_client.hpp"

namespace mbslave::platform {
namespace {

using test::LoopbackClient;

class SocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(listener.openStream());
        ASSERT_EQ(listener.bind({0x7F000001u, 0}), platform::BindResult::ok);
        ASSERT_TRUE(listener.listen(5));
        port = listener.localPort();
        ASSERT_NE(port, 0);
    }

    Socket acceptOne(LoopbackClient& master) {
        EXPECT_TRUE(master.connect(port));
        Ipv4Endpoint peer;
        Socket accepted = listener.accept(peer);
        EXPECT_TRUE(accepted.isValid());
        EXPECT_EQ(peer.address, 0x7F000001u);
        return accepted;
    }

    Socket listener;
    std::uint16_t port = 0;
};

TEST_F(SocketTest, AcceptedConnectionsNeverWaitAndAreClosedOnExec) {
    LoopbackClient master;
    Socket connection = acceptOne(master);
    EXPECT_NE(fcntl(connection.descriptor(), F_GETFD) & FD_CLOEXEC, 0);
    EXPECT_NE(fcntl(listener.descriptor(), F_GETFD) & FD_CLOEXEC, 0);
    char byte;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(connection.receive(&byte, 1), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
}

TEST_F(SocketTest, SendToAResetPeerFailsWithoutSigpipe) {
    LoopbackClient master;
    Socket connection = acceptOne(master);
    master.reset();
    char byte;
    EXPECT_EQ(connection.receive(&byte, 1), -1);  // reports the reset
    // The next send meets a connection shut down for writing: EPIPE, which
    // would raise SIGPIPE and end this process without MSG_NOSIGNAL.
    EXPECT_EQ(connection.send("x", 1), -1);
    EXPECT_EQ(connection.send("x", 1), -1);
}

TEST_F(SocketTest, WaitSetCountsAClosedConnectionAsReadable) {
    LoopbackClient master;
    Socket connection = acceptOne(master);
    SocketWaitSet waitSet;
    const int entry = waitSet.add(connection);
    EXPECT_EQ(waitSet.wait(10), SocketWaitSet::Result::timedOut);
    EXPECT_FALSE(waitSet.isReadable(entry));
    master.reset();
    waitSet.clear();
    ASSERT_EQ(waitSet.add(connection), entry);
    EXPECT_EQ(waitSet.wait(1000), SocketWaitSet::Result::ready);
    EXPECT_TRUE(waitSet.isReadable(entry));
    EXPECT_FALSE(waitSet.isReadable(entry + 1));
}

TEST_F(SocketTest, SecondBindOfAPortIsReportedAsInUse) {
    Socket second;
    ASSERT_TRUE(second.openStream());
    second.setOption(SocketOption::reuseAddress, 1);
    EXPECT_EQ(second.bind({0x7F000001u, port}), platform::BindResult::addressInUse);
}

TEST(DatagramSocket, ReportsTheSourceAndTheFullSizeOfACutDatagram) {
    Socket receiver;
    Socket sender;
    ASSERT_TRUE(receiver.openDatagram());
    ASSERT_TRUE(sender.openDatagram());
    ASSERT_EQ(receiver.bind({0x7F000001u, 0}), platform::BindResult::ok);
    ASSERT_EQ(sender.bind({0x7F000002u, 0}), platform::BindResult::ok);
    const Ipv4Endpoint destination{0x7F000001u, receiver.localPort()};
    const std::vector<std::uint8_t> large(300, 0x5A);
    ASSERT_EQ(sender.sendTo(large.data(), large.size(), destination), 300);
    ASSERT_EQ(sender.sendTo("abc", 3, destination), 3);

    SocketWaitSet waitSet;
    waitSet.add(receiver);
    ASSERT_EQ(waitSet.wait(1000), SocketWaitSet::Result::ready);
    std::uint8_t buffer[260];
    Ipv4Endpoint source;
    std::uint32_t local = 0;
    EXPECT_EQ(receiver.receiveFrom(buffer, sizeof buffer, source, local), 300);  // cut to 260
    EXPECT_EQ(source.address, 0x7F000002u);
    EXPECT_EQ(source.port, sender.localPort());
    EXPECT_EQ(local, 0x7F000001u);
    EXPECT_EQ(receiver.receiveFrom(buffer, sizeof buffer, source, local), 3);
    EXPECT_EQ(std::memcmp(buffer, "abc", 3), 0);
    EXPECT_EQ(receiver.receiveFrom(buffer, sizeof buffer, source, local), -1);  // nothing left
}

TEST(HostResolution, DottedAddressesAndNames) {
    struct Case {
        const char* host;
        bool resolves;
        std::uint32_t address;
    };
    const Case cases[] = {
        {"127.0.0.1", true, 0x7F000001u},
        {"10.1.2.3", true, 0x0A010203u},
        {"0.0.0.0", true, 0},
        {"localhost", true, 0x7F000001u},
        {"no-such-host.invalid", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        std::uint32_t address = 0xDEADBEEF;
        EXPECT_EQ(resolveIpv4(c.host, address), c.resolves);
        if (c.resolves) {
            EXPECT_EQ(address, c.address);
        }
    }
}

TEST(AddressTextTest, DottedDecimalInTheOwnersBuffer) {
    AddressText first;
    AddressText second;
    const char* text = first.format({0xC0A80A01u, 502});
    EXPECT_STREQ(text, "192.168.10.1");
    EXPECT_STREQ(second.format({0xFFFFFFFFu, 0}), "255.255.255.255");
    EXPECT_STREQ(text, "192.168.10.1");  // another object's text is separate
}

}  // namespace
}  // namespace mbslave::platform

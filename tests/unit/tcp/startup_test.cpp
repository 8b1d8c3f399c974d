// Start-up, settings and kind checks of the IP exported functions.
#include <gtest/gtest.h>

#include "support/test_protocol.hpp"
#include "support/wide_literal.hpp"
#include "tcp_server_fixture.hpp"

namespace mbslave::test {
namespace {

using StartupTest = TcpServerTest;

TEST_F(StartupTest, NewServerDefaults) {
    EXPECT_EQ(mbusSlave_getPort(raw()), 502);
    EXPECT_EQ(mbusSlave_getConnectionTimeOut(raw()), 0u);
    EXPECT_EQ(mbusSlave_isStarted(raw()), 0);
    EXPECT_EQ(server().getRequestInfo().protocolType, MB_PROTOCOL_TCP);
    EXPECT_EQ(pass(), MB_ERR_ILLEGAL_STATE);
}

TEST_F(StartupTest, PortZeroIsAcceptedAndTheSystemChoosesOne) {
    start();
    EXPECT_EQ(mbusSlave_isStarted(raw()), 1);
    EXPECT_EQ(mbusSlave_getPort(raw()), 0);
    LoopbackClient master;
    EXPECT_TRUE(master.connect(port));
}

TEST_F(StartupTest, PortInUseIsReportedAndLeavesTheServerStopped) {
    start();
    HandlePtr second(mbusSlave_createTcpProtocol());
    ASSERT_EQ(mbusSlave_setPort(second.get(), port), MB_OK);
    EXPECT_EQ(mbusSlave_startupIpServer(second.get(), "127.0.0.1"), MB_ERR_TCP_PORT_BOUND);
    EXPECT_EQ(mbusSlave_isStarted(second.get()), 0);
    EXPECT_EQ(mbusSlave_serverLoop(second.get()), MB_ERR_ILLEGAL_STATE);
}

TEST_F(StartupTest, UnresolvableHostIsReportedAndLeavesTheServerStopped) {
    ASSERT_EQ(mbusSlave_setPort(raw(), 0), MB_OK);
    EXPECT_EQ(mbusSlave_startupIpServer(raw(), "no-such-host.invalid"), MB_ERR_TCPIP_CONNECTION);
    EXPECT_EQ(mbusSlave_isStarted(raw()), 0);
}

TEST_F(StartupTest, HostNamesResolve) {
    start("localhost");
    LoopbackClient master;
    EXPECT_TRUE(master.connect(port, "127.0.0.1"));
}

TEST_F(StartupTest, LoopbackAddressBindsThatAddressOnly) {
    start("127.0.0.1");
    LoopbackClient master;
    EXPECT_TRUE(master.connect(port, "127.0.0.1"));
    EXPECT_FALSE(master.connect(port, "127.0.0.2"));
}

TEST_F(StartupTest, NullAndEmptyHostBindEveryLocalAddress) {
    for (const char* host : {static_cast<const char*>(nullptr), ""}) {
        start(host);
        LoopbackClient master;
        EXPECT_TRUE(master.connect(port, "127.0.0.1"));
        EXPECT_TRUE(master.connect(port, "127.0.0.2"));
        mbusSlave_shutdownServer(raw());
    }
}

TEST_F(StartupTest, SerialStartupStartsTheServerOnEveryLocalAddress) {
    ASSERT_EQ(mbusSlave_setPort(raw(), 0), MB_OK);
    EXPECT_EQ(mbusSlave_startupSerialServer(raw(), wide(u"COM1"), 19200, 8, 1, PARITY_EVEN), MB_OK);
    EXPECT_EQ(mbusSlave_isStarted(raw()), 1);
    port = server().boundPort();
    LoopbackClient master;
    EXPECT_TRUE(master.connect(port, "127.0.0.2"));
    EXPECT_EQ(mbusSlave_startupSerialServer(raw(), wide(u"COM1"), 19200, 8, 1, PARITY_EVEN),
              MB_ERR_ILLEGAL_STATE);
}

TEST_F(StartupTest, SecondStartupIsRefusedAndKeepsTheRunningServer) {
    start();
    EXPECT_EQ(mbusSlave_startupIpServer(raw(), "127.0.0.1"), MB_ERR_ILLEGAL_STATE);
    EXPECT_EQ(server().boundPort(), port);
    LoopbackClient master;
    EXPECT_TRUE(master.connect(port));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(server().connectionCount(), 1);
}

TEST_F(StartupTest, SettingsThatShapeTheServerAreRefusedWhileStarted) {
    ASSERT_EQ(mbusSlave_setConnectionTimeOut(raw(), 3600000), MB_OK);
    EXPECT_EQ(mbusSlave_setConnectionTimeOut(raw(), 3600001), MB_ERR_ILLEGAL_ARGUMENT);
    EXPECT_EQ(mbusSlave_setConnectionTimeOut(raw(), 0xFFFFFFFFu), MB_ERR_ILLEGAL_ARGUMENT);
    EXPECT_EQ(mbusSlave_getConnectionTimeOut(raw()), 3600000u);
    start();
    EXPECT_EQ(mbusSlave_setPort(raw(), 1502), MB_ERR_ILLEGAL_STATE);
    EXPECT_EQ(mbusSlave_getPort(raw()), 0);
    EXPECT_EQ(mbusSlave_setConnectionTimeOut(raw(), 5000), MB_ERR_ILLEGAL_STATE);
    EXPECT_EQ(mbusSlave_getConnectionTimeOut(raw()), 3600000u);
    // Time-out and notifications may change at any time.
    EXPECT_EQ(mbusSlave_setTimeout(raw(), 30), MB_OK);
    mbusSlave_configureTcpNotifications(raw(), nullptr, nullptr, nullptr);
    mbusSlave_shutdownServer(raw());
    EXPECT_EQ(mbusSlave_setPort(raw(), 1502), MB_OK);
    EXPECT_EQ(mbusSlave_getPort(raw()), 1502);
    EXPECT_EQ(mbusSlave_setConnectionTimeOut(raw(), 5000), MB_OK);
    EXPECT_EQ(mbusSlave_getConnectionTimeOut(raw()), 5000u);
}

TEST_F(StartupTest, ServerCanBeStartedAgainAfterShutdown) {
    start();
    mbusSlave_shutdownServer(raw());
    EXPECT_EQ(mbusSlave_isStarted(raw()), 0);
    EXPECT_EQ(pass(), MB_ERR_ILLEGAL_STATE);
    start();
    EXPECT_EQ(mbusSlave_isStarted(raw()), 1);
    LoopbackClient master;
    EXPECT_TRUE(master.connect(port));
}

TEST_F(StartupTest, RestartOnTheSamePortRightAfterClosingConnectionsWorks) {
    start();
    {
        // Connections the server closes itself linger on its port (TIME_WAIT).
        LoopbackClient first;
        LoopbackClient second;
        ASSERT_TRUE(first.connect(port));
        ASSERT_TRUE(second.connect(port));
        EXPECT_EQ(pass(), MB_OK);
        EXPECT_EQ(pass(), MB_OK);
        EXPECT_EQ(server().connectionCount(), 2);
        mbusSlave_shutdownServer(raw());
    }
    ASSERT_EQ(mbusSlave_setPort(raw(), port), MB_OK);
    ASSERT_EQ(mbusSlave_startupIpServer(raw(), "127.0.0.1"), MB_OK);
    LoopbackClient master;
    EXPECT_TRUE(master.connect(port));
    // The running server's port stays its own.
    HandlePtr other(mbusSlave_createTcpProtocol());
    ASSERT_EQ(mbusSlave_setPort(other.get(), port), MB_OK);
    EXPECT_EQ(mbusSlave_startupIpServer(other.get(), "127.0.0.1"), MB_ERR_TCP_PORT_BOUND);
}

TEST_F(StartupTest, ShutdownOfAStoppedServerOnlyEndsMasterActivity) {
    mbusSlave_shutdownServer(raw());
    EXPECT_EQ(mbusSlave_isStarted(raw()), 0);
    EXPECT_EQ(mbusSlave_getConnectionStatus(raw()), 0);
    EXPECT_EQ(mbusSlave_getPort(raw()), 502);
}

TEST(IpExports, NullHandleGetsTheNullResults) {
    EXPECT_EQ(mbusSlave_startupIpServer(nullptr, nullptr), MB_ERR_ILLEGAL_STATE);
    EXPECT_EQ(mbusSlave_setPort(nullptr, 1), MB_ERR_ILLEGAL_STATE);
    EXPECT_EQ(mbusSlave_getPort(nullptr), 0);
    EXPECT_EQ(mbusSlave_setConnectionTimeOut(nullptr, 1), MB_ERR_ILLEGAL_STATE);
    EXPECT_EQ(mbusSlave_getConnectionTimeOut(nullptr), 0u);
    mbusSlave_configureTcpNotifications(nullptr, &Notifications::onAccept, nullptr, nullptr);
    mbusSlave_configureUdpNotifications(nullptr, &Notifications::onRequest);
}

TEST(IpExports, HandleOfAnotherKindIsRefusedUntouched) {
    HandlePtr other(toOpaque(createHandle<TestProtocol>()));
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(mbusSlave_startupIpServer(other.get(), "127.0.0.1"), MB_ERR_ILLEGAL_STATE);
    EXPECT_EQ(mbusSlave_setPort(other.get(), 1), MB_ERR_ILLEGAL_STATE);
    EXPECT_EQ(mbusSlave_getPort(other.get()), 0);
    EXPECT_EQ(mbusSlave_setConnectionTimeOut(other.get(), 1), MB_ERR_ILLEGAL_STATE);
    EXPECT_EQ(mbusSlave_getConnectionTimeOut(other.get()), 0u);
    mbusSlave_configureTcpNotifications(other.get(), &Notifications::onAccept, nullptr, nullptr);
    mbusSlave_configureUdpNotifications(other.get(), &Notifications::onRequest);
    EXPECT_EQ(mbusSlave_isStarted(other.get()), 0);
}

}  // namespace
}  // namespace mbslave::test

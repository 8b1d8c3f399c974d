// A UDP server on an ephemeral loopback port, driven pass by pass from the
// test thread, and a master's datagram socket.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "api/protocol_handle.hpp"
#include "ip/udp_protocol.hpp"
#include "support/callbacks.hpp"
#include "support/loopback_datagram.hpp"
#include "support/test_sockets.hpp"
#include "unit/tcp/tcp_server_fixture.hpp"

namespace mbslave::test {

class UdpServerTest : public ::testing::Test {
protected:
    static constexpr std::uint32_t kPassTimeOut = 20;

    void SetUp() override {
        Notifications::reset();
        handle.reset(mbusSlave_createUdpProtocol());
        ASSERT_NE(handle, nullptr);
        mbusSlave_configureUdpNotifications(raw(), &Notifications::onRequest);
        ASSERT_EQ(mbusSlave_setTimeout(raw(), kPassTimeOut), MB_OK);
        ASSERT_TRUE(master.open());
    }

    MbusSlaveHandle* raw() { return handle.get(); }
    UdpProtocol& server() { return *protocolAs<UdpProtocol>(raw()); }

    void start(const char* host = "127.0.0.1") {
        ASSERT_EQ(mbusSlave_setPort(raw(), 0), MB_OK);
        ASSERT_EQ(mbusSlave_startupIpServer(raw(), host), MB_OK);
        port = server().boundPort();
        ASSERT_NE(port, 0);
    }

    // A data table without callbacks for one unit identifier or all (-1).
    void serveUnit(int unit) {
        ASSERT_EQ(test::configureEmptyCallbacks(raw(), unit),
                  MB_OK);
    }

    int pass() { return mbusSlave_serverLoop(raw()); }
    std::uint32_t total() { return mbusSlave_getTotalCounter(raw()); }
    std::uint32_t success() { return mbusSlave_getSuccessCounter(raw()); }

    HandlePtr handle;
    LoopbackDatagram master;
    std::uint16_t port = 0;
};

}  // namespace mbslave::test

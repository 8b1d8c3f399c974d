// A UDP server on an ephemeral loopback port, driven pass by pass from the
// test thread, and a master's datagram socket.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "api/protocol_handle.hpp"
#include "ip/udp_protocol.hpp"
#include "support/callbacks.hpp"
#include "support/ip_server_fixture.hpp"
#include "support/loopback_datagram.hpp"
#include "support/test_sockets.hpp"
#include "unit/tcp/tcp_server_fixture.hpp"

namespace mbslave::test {

class UdpServerTest : public IpServerTest<UdpProtocol> {
protected:
    void SetUp() override {
        Notifications::reset();
        adopt(mbusSlave_createUdpProtocol());
        mbusSlave_configureUdpNotifications(raw(), &Notifications::onRequest);
        ASSERT_TRUE(master.open());
    }

    // A data table without callbacks for one unit identifier or all (-1).
    void serveUnit(int unit) { ASSERT_EQ(test::configureEmptyCallbacks(raw(), unit), MB_OK); }

    LoopbackDatagram master;
};

}  // namespace mbslave::test

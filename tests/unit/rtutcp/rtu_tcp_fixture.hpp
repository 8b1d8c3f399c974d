// An RTU-over-TCP server on an ephemeral loopback port, driven pass by pass
// from the test thread, with its notifications recorded, and RTU frames
// built with their CRC.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "api/protocol_handle.hpp"
#include "engine/crc16.hpp"
#include "ip/rtu_over_tcp_protocol.hpp"
#include "support/register_store.hpp"
#include "unit/tcp/tcp_server_fixture.hpp"

namespace mbslave::test {

// Slave address and PDU followed by their CRC, low byte first.
inline std::vector<std::uint8_t> rtuFrame(std::uint8_t address, const std::vector<std::uint8_t>& pdu) {
    std::vector<std::uint8_t> frame{address};
    frame.insert(frame.end(), pdu.begin(), pdu.end());
    frame.resize(frame.size() + 2);
    appendCrc16(frame.data(), static_cast<int>(frame.size()) - 2);
    return frame;
}

class RtuOverTcpTest : public ::testing::Test {
protected:
    static constexpr std::uint32_t kPassTimeOut = 20;

    void SetUp() override {
        Notifications::reset();
        RegisterStore::reset();
        handle.reset(mbusSlave_createRtuOverTcpProtocol());
        ASSERT_NE(handle, nullptr);
        mbusSlave_configureTcpNotifications(raw(), &Notifications::onAccept,
                                            &Notifications::onClose, &Notifications::onRequest);
        ASSERT_EQ(mbusSlave_setTimeout(raw(), kPassTimeOut), MB_OK);
    }

    MbusSlaveHandle* raw() { return handle.get(); }
    RtuOverTcpProtocol& server() { return *protocolAs<RtuOverTcpProtocol>(raw()); }

    void start() {
        ASSERT_EQ(mbusSlave_setPort(raw(), 0), MB_OK);
        ASSERT_EQ(mbusSlave_startupIpServer(raw(), "127.0.0.1"), MB_OK);
        port = server().boundPort();
        ASSERT_NE(port, 0);
    }

    void serveRegisters(int slaveAddress) {
        ASSERT_EQ(mbusSlave_configureCallbacks(raw(), slaveAddress, &RegisterStore::readHolding,
                                               &RegisterStore::writeHolding, nullptr, nullptr,
                                               nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                               nullptr, nullptr, nullptr, nullptr, nullptr),
                  MB_OK);
    }

    int pass() { return mbusSlave_serverLoop(raw()); }

    LoopbackClient connectMaster() {
        LoopbackClient master;
        EXPECT_TRUE(master.connect(port));
        const int before = server().connectionCount();
        EXPECT_EQ(pass(), MB_OK);
        EXPECT_EQ(server().connectionCount(), before + 1);
        return master;
    }

    std::uint32_t total() { return mbusSlave_getTotalCounter(raw()); }
    std::uint32_t success() { return mbusSlave_getSuccessCounter(raw()); }

    HandlePtr handle;
    std::uint16_t port = 0;
};

}  // namespace mbslave::test

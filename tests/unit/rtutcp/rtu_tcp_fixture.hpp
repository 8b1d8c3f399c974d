// An RTU-over-TCP server on an ephemeral loopback port, driven pass by pass
// from the test thread, with its notifications recorded, and RTU frames
// built with their CRC.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "api/protocol_handle.hpp"
#include "engine/rtu_frame_bytes.hpp"
#include "ip/rtu_over_tcp_protocol.hpp"
#include "support/callbacks.hpp"
#include "support/frames.hpp"
#include "support/register_store.hpp"
#include "unit/tcp/tcp_server_fixture.hpp"

namespace mbslave::test {

// The Modbus/TCP fixture around an RTU-over-TCP server.
class RtuOverTcpTest : public TcpServerTest {
protected:
    void SetUp() override {
        RegisterStore::reset();
        TcpServerTest::SetUp();
    }

    MbusSlaveHandle* createServer() override { return mbusSlave_createRtuOverTcpProtocol(); }

    void serveRegisters(int slaveAddress) {
        ASSERT_EQ(test::configureCallbacks(raw(), slaveAddress,
                                           {&RegisterStore::readHolding, &RegisterStore::writeHolding}),
                  MB_OK);
    }
};

}  // namespace mbslave::test

// The part every IP-server fixture shares: a handle of one kind on an
// ephemeral loopback port with a short protocol time-out, driven pass by pass
// from the test thread, and its counters.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "api/protocol_handle.hpp"
#include "support/handle_ptr.hpp"

namespace mbslave::test {

template <typename Protocol>
class IpServerTest : public ::testing::Test {
protected:
    // A short protocol time-out keeps passes that find nothing brief.
    static constexpr std::uint32_t kPassTimeOut = 20;

    // Takes the new handle and sets the pass time-out.
    void adopt(MbusSlaveHandle* created) {
        handle.reset(created);
        ASSERT_NE(handle, nullptr);
        ASSERT_EQ(mbusSlave_setTimeout(raw(), kPassTimeOut), MB_OK);
    }

    MbusSlaveHandle* raw() { return handle.get(); }
    Protocol& server() { return *protocolAs<Protocol>(raw()); }

    void start(const char* host = "127.0.0.1") {
        ASSERT_EQ(mbusSlave_setPort(raw(), 0), MB_OK);
        ASSERT_EQ(mbusSlave_startupIpServer(raw(), host), MB_OK);
        port = server().boundPort();
        ASSERT_NE(port, 0);
    }

    int pass() { return mbusSlave_serverLoop(raw()); }
    std::uint32_t total() { return mbusSlave_getTotalCounter(raw()); }
    std::uint32_t success() { return mbusSlave_getSuccessCounter(raw()); }

    HandlePtr handle;
    std::uint16_t port = 0;
};

}  // namespace mbslave::test

// The server loop allocates nothing: after start-up, every pass of every
// transport serves its requests (valid ones of each function code, malformed
// ones, new and closed connections) without touching the heap.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "api/protocol_handle.hpp"
#include "counting_allocator.hpp"
#include "ip/tcp_protocol.hpp"
#include "support/loopback_client.hpp"
#include "support/mbap.hpp"
#include "support/modbus_requests.hpp"
#include "support/permissive_table.hpp"

namespace mbslave::test {
namespace {

constexpr int kServedRequests = 10000;
constexpr int kRequestsPerConnection = 500;
constexpr std::uint8_t kUnit = 1;

// Requests of every served function code plus malformed ones that are
// answered with an exception.
std::vector<Bytes> requestMix() {
    std::vector<Bytes> mix = validRequestPerFunctionCode(kUnit);
    mix.push_back({kUnit});
    mix.push_back({kUnit, 16, 0, 0, 0, 123, 6, 1, 2, 3, 4, 5, 6});
    mix.push_back(readRequest(kUnit, 3, 0, 125));
    mix.push_back({kUnit, 0x41});
    return mix;
}

// Runs one server pass with allocation counting on; the allocations it made.
long countedPass(MbusSlaveHandle* handle) {
    const long before = allocationsCounted();
    CountingScope scope;
    EXPECT_EQ(mbusSlave_serverLoop(handle), MB_OK);
    return allocationsCounted() - before;
}

TEST(AllocationCounter, SeesMallocAndOperatorNew) {
    const long before = allocationsCounted();
    {
        CountingScope scope;
        char* copy = strdup("counted through malloc");
        std::free(copy);
        std::vector<int> values(100, 1);
        EXPECT_EQ(values[99], 1);
    }
    EXPECT_GE(allocationsCounted() - before, 2);
}

TEST(ZeroAllocation, ModbusTcpServesTenThousandRequestsWithoutAllocating) {
    MbusSlaveHandle* handle = mbusSlave_createTcpProtocol();
    ASSERT_NE(handle, nullptr);
    PermissiveTable table;
    protocolOf(handle)->setDataTable(-1, &table);
    ASSERT_EQ(mbusSlave_setTimeout(handle, 50), MB_OK);
    ASSERT_EQ(mbusSlave_setPort(handle, 0), MB_OK);
    ASSERT_EQ(mbusSlave_startupIpServer(handle, "127.0.0.1"), MB_OK);
    const std::uint16_t port = protocolAs<TcpProtocol>(handle)->boundPort();

    std::vector<Bytes> frames;
    for (const Bytes& request : requestMix()) frames.push_back(mbapFrame(0x0101, request));

    long allocations = 0;
    int answered = 0;
    LoopbackClient master;
    for (int i = 0; i < kServedRequests; ++i) {
        if (i % kRequestsPerConnection == 0) {
            // The old connection is closed and a new one accepted in counted passes.
            master.close();
            ASSERT_TRUE(master.connect(port));
            allocations += countedPass(handle);
            allocations += countedPass(handle);
        }
        ASSERT_TRUE(master.send(frames[static_cast<std::size_t>(i) % frames.size()]));
        allocations += countedPass(handle);
        answered += readMbapReply(master, 0x0101).has_value();
    }
    EXPECT_EQ(allocations, 0);
    EXPECT_EQ(answered, kServedRequests);
    EXPECT_EQ(mbusSlave_getSuccessCounter(handle), static_cast<std::uint32_t>(kServedRequests));
    mbusSlave_destroyProtocol(handle);
}

}  // namespace
}  // namespace mbslave::test

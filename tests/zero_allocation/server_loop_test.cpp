// The server loop allocates nothing: after start-up, every pass of every
// transport serves its requests (valid ones of each function code, malformed
// ones, new and closed connections) without touching the heap.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "api/protocol_handle.hpp"
#include "counting_allocator.hpp"
#include "engine/rtu_frame_bytes.hpp"
#include "ip/tcp_protocol.hpp"
#include "ip/udp_protocol.hpp"
#include "serial/ascii_hex.hpp"
#include "serial/ascii_protocol.hpp"
#include "serial/rtu_protocol.hpp"
#include "support/frames.hpp"
#include "support/loopback_client.hpp"
#include "support/loopback_datagram.hpp"
#include "support/mbap.hpp"
#include "support/modbus_requests.hpp"
#include "support/permissive_table.hpp"
#include "support/scripted_serial_device.hpp"

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

// A started IP server of the handle's kind on an ephemeral loopback port,
// with the table for every address.
class IpServer {
public:
    explicit IpServer(MbusSlaveHandle* created) : handle(created) {
        protocolOf(handle)->setDataTable(-1, &table);
        mbusSlave_setTimeout(handle, 50);
        mbusSlave_setPort(handle, 0);
        started = mbusSlave_startupIpServer(handle, "127.0.0.1") == MB_OK;
        port = static_cast<IpProtocol*>(protocolOf(handle))->boundPort();
    }
    ~IpServer() { mbusSlave_destroyProtocol(handle); }

    MbusSlaveHandle* handle;
    PermissiveTable table;
    bool started = false;
    std::uint16_t port = 0;
};

// Connection kinds: frames on connections that are closed and opened again
// every kRequestsPerConnection requests, in counted passes too.
void expectConnectionServerAllocatesNothing(MbusSlaveHandle* created, const std::vector<Bytes>& frames,
                                            std::size_t minimumReply) {
    IpServer server(created);
    ASSERT_TRUE(server.started);
    long allocations = 0;
    int answered = 0;
    LoopbackClient master;
    for (int i = 0; i < kServedRequests; ++i) {
        if (i % kRequestsPerConnection == 0) {
            master.close();
            ASSERT_TRUE(master.connect(server.port));
            allocations += countedPass(server.handle);
            allocations += countedPass(server.handle);
        }
        ASSERT_TRUE(master.send(frames[static_cast<std::size_t>(i) % frames.size()]));
        allocations += countedPass(server.handle);
        answered += master.receiveAvailable().size() >= minimumReply;
    }
    EXPECT_EQ(allocations, 0);
    EXPECT_EQ(answered, kServedRequests);
    EXPECT_EQ(mbusSlave_getSuccessCounter(server.handle), static_cast<std::uint32_t>(kServedRequests));
}

TEST(ZeroAllocation, ModbusTcp) {
    std::vector<Bytes> frames;
    for (const Bytes& request : requestMix()) frames.push_back(mbapFrame(0x0101, request));
    expectConnectionServerAllocatesNothing(mbusSlave_createTcpProtocol(), frames, 9);
}

TEST(ZeroAllocation, RtuOverTcp) {
    std::vector<Bytes> frames;
    for (const Bytes& request : requestMix()) {
        if (request.size() >= 3) frames.push_back(withCrc(request));  // shorter frames close the connection
    }
    expectConnectionServerAllocatesNothing(mbusSlave_createRtuOverTcpProtocol(), frames, 5);
}

TEST(ZeroAllocation, Udp) {
    IpServer server(mbusSlave_createUdpProtocol());
    ASSERT_TRUE(server.started);
    std::vector<Bytes> datagrams;
    for (const Bytes& request : requestMix()) datagrams.push_back(mbapFrame(0x0202, request));
    datagrams.push_back(Bytes(300, 0x01));  // oversized: dropped
    LoopbackDatagram master;
    long allocations = 0;
    int answered = 0;
    for (int i = 0; i < kServedRequests; ++i) {
        const Bytes& datagram = datagrams[static_cast<std::size_t>(i) % datagrams.size()];
        ASSERT_TRUE(master.sendTo(server.port, datagram));
        allocations += countedPass(server.handle);
        answered += master.receive(datagram.size() > 260 ? 0 : 1000).has_value();
    }
    EXPECT_EQ(allocations, 0);
    EXPECT_EQ(answered, kServedRequests - kServedRequests / static_cast<int>(datagrams.size()));
}

// Serial kinds on a scripted line: each request, then silence.
template <typename Protocol>
void expectSerialServerAllocatesNothing(const std::vector<Bytes>& frames) {
    auto device = std::make_unique<ScriptedSerialDevice>();
    PermissiveTable table;
    auto protocol = std::make_unique<Protocol>();
    protocol->attachSerialDevice(device.get());
    for (int address = 1; address < 256; ++address) protocol->setDataTable(address, &table);
    ASSERT_EQ(protocol->startupSerialServer(u"COM1", 115200, 8, 1, PARITY_NONE), MB_OK);
    long allocations = 0;
    int answered = 0;
    for (int i = 0; i < kServedRequests; ++i) {
        const Bytes& frame = frames[static_cast<std::size_t>(i) % frames.size()];
        device->clearScript();
        device->add(frame.data(), static_cast<int>(frame.size()));
        device->add(ScriptedSerialDevice::kSilence);
        device->clearWritten();
        const long before = allocationsCounted();
        {
            CountingScope scope;
            EXPECT_EQ(protocol->serverLoop(), MB_OK);
        }
        allocations += allocationsCounted() - before;
        answered += device->writes() == 1;
    }
    EXPECT_EQ(allocations, 0);
    EXPECT_EQ(answered, kServedRequests);
    protocol.reset();
}

TEST(ZeroAllocation, Rtu) {
    std::vector<Bytes> frames;
    for (const Bytes& request : requestMix()) {
        if (request.size() >= 2) frames.push_back(withCrc(request));  // shorter frames are dropped
    }
    expectSerialServerAllocatesNothing<RtuProtocol>(frames);
}

TEST(ZeroAllocation, Ascii) {
    std::vector<Bytes> frames;
    for (const Bytes& request : requestMix()) {
        const std::string text = asciiFrame(request);
        frames.emplace_back(text.begin(), text.end());
    }
    expectSerialServerAllocatesNothing<AsciiProtocol>(frames);
}

}  // namespace
}  // namespace mbslave::test

// Many short-lived connections, some cut off in the middle of a request:
// every descriptor the server took is given back and it keeps answering.
#include <gtest/gtest.h>

#include <cstdio>

#include "support/open_descriptors.hpp"
#include "tcp_server_fixture.hpp"

namespace mbslave::test {
namespace {

struct ChurnCounts {
    static inline int accepted = 0;
    static inline int closed = 0;
    static int onAccept(const char*) { return ++accepted, 1; }
    static void onClose(const char*) { ++closed; }
};

// How a master leaves: what it sent before it went, and whether it reset.
struct Departure {
    const char* name;
    std::size_t bytesSent;  // of a 8-byte request
    bool reset;
};

TEST_F(TcpServerTest, TenThousandConnectionsLeaveNoDescriptorBehind) {
    constexpr int kConnections = 10000;
    const Departure departures[] = {
        {"silent close", 0, false},   {"half header", 3, false}, {"header only", 6, false},
        {"half body", 7, false},      {"whole request", 8, false}, {"reset silent", 0, true},
        {"reset in header", 4, true}, {"reset after request", 8, true},
    };
    serveEveryUnit();
    mbusSlave_configureTcpNotifications(raw(), &ChurnCounts::onAccept, &ChurnCounts::onClose,
                                        nullptr);
    start();
    const std::vector<std::uint8_t> request = mbapFrame(1, 1, {kUnsupportedFunction, 0});
    const int descriptorsBefore = openDescriptorCount();
    ASSERT_GT(descriptorsBefore, 0);

    for (int i = 0; i < kConnections; ++i) {
        const Departure& departure = departures[i % std::size(departures)];
        LoopbackClient master;
        ASSERT_TRUE(master.connect(port)) << i;
        if (departure.bytesSent > 0) {
            ASSERT_TRUE(master.send({request.begin(), request.begin() + static_cast<long>(
                                                                            departure.bytesSent)}));
        }
        departure.reset ? master.reset() : master.close();
        // One pass accepts, a following one reads what is left and closes.
        for (int passes = 0; passes < 10 && ChurnCounts::closed <= i; ++passes) {
            ASSERT_EQ(pass(), MB_OK);
        }
        ASSERT_EQ(ChurnCounts::closed, i + 1) << i << ' ' << departure.name;
    }
    EXPECT_EQ(ChurnCounts::accepted, kConnections);
    EXPECT_EQ(server().connectionCount(), 0);
    const int descriptorsAfter = openDescriptorCount();
    std::printf("open descriptors before %d connections: %d, after: %d\n", kConnections,
                descriptorsBefore, descriptorsAfter);
    EXPECT_EQ(descriptorsAfter, descriptorsBefore);

    LoopbackClient master = connectMaster();
    ASSERT_TRUE(master.send(unsupportedRequest(0xBEEF, 1)));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(master.receive(9), illegalFunctionReply(0xBEEF, 1));
}

TEST_F(TcpServerTest, DestroyingAServerWithOpenConnectionsGivesEveryDescriptorBack) {
    const int descriptorsBefore = openDescriptorCount();
    serveEveryUnit();
    start();
    std::vector<LoopbackClient> masters;
    for (int i = 0; i < 5; ++i) masters.push_back(connectMaster());
    for (LoopbackClient& master : masters) master.close();
    handle.reset();
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
}

}  // namespace
}  // namespace mbslave::test

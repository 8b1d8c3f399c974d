// What the application sees of one request: the request context inside the
// data callbacks, the order of callbacks, reply, counters and notification,
// and register values crossing the connection both ways.
#include <gtest/gtest.h>

#include "support/callbacks.hpp"
#include "tcp_server_fixture.hpp"

namespace mbslave::test {
namespace {

// One observation per callback, taken while the request is being served.
struct Observation {
    std::string event;
    RequestInfo info{};
    std::string peer;
    std::uint32_t successCounter = 0;
    bool replyArrived = false;
};

struct Observer {
    static inline MbusSlaveHandle* handle = nullptr;
    static inline LoopbackClient* master = nullptr;
    static inline std::vector<Observation> seen;
    static inline std::vector<std::uint16_t> written;

    static Observation observe(const char* event, const RequestInfo* info) {
        Observation observation;
        observation.event = event;
        if (info != nullptr) {
            observation.info = *info;
            observation.peer = info->peerName;
        }
        observation.successCounter = mbusSlave_getSuccessCounter(handle);
        observation.replyArrived = !master->isQuiet(0);
        return observation;
    }
    static int readHolding(int startRef, std::uint16_t regArr[], int refCnt, const RequestInfo* info) {
        seen.push_back(observe("read", info));
        for (int i = 0; i < refCnt; ++i) regArr[i] = static_cast<std::uint16_t>(0xA000 + startRef + i);
        return 1;
    }
    static int writeHolding(int, const std::uint16_t regArr[], int refCnt, const RequestInfo* info) {
        seen.push_back(observe("write", info));
        written.assign(regArr, regArr + refCnt);
        return 1;
    }
    static void onRequest(const char* address) {
        Observation observation = observe("request", nullptr);
        observation.peer = address;
        seen.push_back(observation);
    }
};

class RequestInfoTest : public TcpServerTest {
protected:
    void SetUp() override {
        TcpServerTest::SetUp();
        Observer::seen.clear();
        Observer::handle = raw();
        ASSERT_EQ(test::configureCallbacks(raw(), 17,
                                           {&Observer::readHolding, &Observer::writeHolding}),
                  MB_OK);
        mbusSlave_configureTcpNotifications(raw(), nullptr, nullptr, &Observer::onRequest);
        start();
        ASSERT_TRUE(master.connect(port, "127.0.0.1", "127.0.0.9"));
        Observer::master = &master;
        ASSERT_EQ(pass(), MB_OK);
    }

    LoopbackClient master;
};

TEST_F(RequestInfoTest, CallbacksSeeTheRequestAndRunBeforeReplyCountersAndNotification) {
    // FC3, 2 registers from wire address 0x0010.
    ASSERT_TRUE(master.send(mbapFrame(0xFFFF, 17, {0x03, 0x00, 0x10, 0x00, 0x02})));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(master.receive(13), mbapFrame(0xFFFF, 17, {0x03, 0x04, 0xA0, 0x11, 0xA0, 0x12}));

    ASSERT_EQ(Observer::seen.size(), 2u);
    const Observation& read = Observer::seen[0];
    EXPECT_EQ(read.event, "read");
    EXPECT_EQ(read.info.protocolType, MB_PROTOCOL_TCP);
    EXPECT_EQ(read.info.slaveAddress, 17);
    EXPECT_EQ(read.info.transactionId, 0xFFFF);
    EXPECT_EQ(read.peer, "127.0.0.9");
    EXPECT_EQ(read.successCounter, 0u);
    EXPECT_FALSE(read.replyArrived);
    const Observation& notified = Observer::seen[1];
    EXPECT_EQ(notified.event, "request");
    EXPECT_EQ(notified.peer, "127.0.0.9");
    EXPECT_EQ(notified.successCounter, 1u);
    EXPECT_TRUE(notified.replyArrived);
}

TEST_F(RequestInfoTest, WrittenRegistersReachTheCallbackInHostOrder) {
    // FC16, 3 registers at wire address 0.
    ASSERT_TRUE(master.send(mbapFrame(
        0x0102, 17, {0x10, 0x00, 0x00, 0x00, 0x03, 0x06, 0x12, 0x34, 0xAB, 0xCD, 0x00, 0x01})));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(master.receive(12), mbapFrame(0x0102, 17, {0x10, 0x00, 0x00, 0x00, 0x03}));
    EXPECT_EQ(Observer::written, (std::vector<std::uint16_t>{0x1234, 0xABCD, 0x0001}));
    EXPECT_EQ(Observer::seen[0].info.transactionId, 0x0102);
}

TEST_F(RequestInfoTest, RefusedRangeIsAnsweredWithTheExceptionAndTheConnectionStays) {
    // FC3 with quantity 126: exception 2; a later request is still served.
    ASSERT_TRUE(master.send(mbapFrame(5, 17, {0x03, 0x00, 0x00, 0x00, 126})));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(master.receive(9), mbapFrame(5, 17, {0x83, 0x02}));
    ASSERT_TRUE(master.send(mbapFrame(6, 17, {0x03, 0x00, 0x00, 0x00, 0x01})));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(master.receive(11), mbapFrame(6, 17, {0x03, 0x02, 0xA0, 0x01}));
}

TEST_F(RequestInfoTest, LengthOneRequestCarriesNoFunctionCode) {
    // Only the unit identifier: answered as function code 0, whatever an
    // earlier request left in the buffer.
    ASSERT_TRUE(master.send(mbapFrame(1, 17, {0x03, 0x00, 0x00, 0x00, 0x01})));
    EXPECT_EQ(pass(), MB_OK);
    master.receive(11);
    ASSERT_TRUE(master.send(mbapFrame(2, 17, {})));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(master.receive(9), mbapFrame(2, 17, {0x80, 0x01}));
}

}  // namespace
}  // namespace mbslave::test

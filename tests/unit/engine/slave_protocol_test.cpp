#include "engine/slave_protocol.hpp"

#include <gtest/gtest.h>

#include "support/fake_clock.hpp"
#include "support/recording_table.hpp"
#include "support/test_protocol.hpp"

namespace mbslave {
namespace {

using test::FakeClock;
using test::RecordingTable;
using test::TestProtocol;

class SlaveProtocolTest : public ::testing::Test {
protected:
    void SetUp() override {
        FakeClock::set(0xFFFFF000u);  // close to the wrap, so every test crosses it
        protocol.setTickSource(&FakeClock::tick);
    }
    // One pass after the clock moved on.
    void passAfter(std::uint32_t milliseconds) {
        FakeClock::advance(milliseconds);
        ASSERT_EQ(protocol.serverLoop(), MB_OK);
    }

    TestProtocol protocol;
    RecordingTable table;
};

TEST_F(SlaveProtocolTest, NewObjectHasDefaults) {
    EXPECT_EQ(protocol.getTotalCounter(), 0u);
    EXPECT_EQ(protocol.getSuccessCounter(), 0u);
    EXPECT_EQ(protocol.getTimeout(), 1000u);
    EXPECT_TRUE(protocol.noDataTableConfigured());
    EXPECT_EQ(protocol.getConnectionStatus(), 0);
    EXPECT_TRUE(protocol.exceptionRepliesEnabled());
    EXPECT_FALSE(protocol.isStarted());
}

TEST_F(SlaveProtocolTest, StoppedServerIsRefusedWithoutSupervision) {
    ASSERT_EQ(protocol.setDataTable(7, &table), MB_OK);
    FakeClock::advance(5000);
    EXPECT_EQ(protocol.serverLoop(), MB_ERR_ILLEGAL_STATE);
    EXPECT_EQ(table.timeOuts, 0);
}

TEST_F(SlaveProtocolTest, SupervisionNotifiesAfterEachFullPeriodOfSilence) {
    ASSERT_EQ(protocol.setDataTable(7, &table), MB_OK);
    protocol.start();
    passAfter(999);
    EXPECT_EQ(table.timeOuts, 0);
    passAfter(1);
    EXPECT_EQ(table.timeOuts, 1);
    passAfter(1);
    EXPECT_EQ(table.timeOuts, 1) << "repeated only after another full period";
    passAfter(999);
    EXPECT_EQ(table.timeOuts, 2);
}

TEST_F(SlaveProtocolTest, ServedRequestPostponesTheNotification) {
    ASSERT_EQ(protocol.setDataTable(7, &table), MB_OK);
    protocol.start();
    passAfter(600);
    protocol.queue({7, 3, 0, 0, 0, 1});
    ASSERT_EQ(protocol.serverLoop(), MB_OK);
    EXPECT_EQ(protocol.getSuccessCounter(), 1u);
    passAfter(600);
    EXPECT_EQ(table.timeOuts, 0) << "1200 ms since install, but only 600 since the request";
    passAfter(400);
    EXPECT_EQ(table.timeOuts, 1);
}

TEST_F(SlaveProtocolTest, RequestToAnotherAddressDoesNotPostpone) {
    RecordingTable other;
    ASSERT_EQ(protocol.setDataTable(7, &table), MB_OK);
    ASSERT_EQ(protocol.setDataTable(8, &other), MB_OK);
    protocol.start();
    passAfter(600);
    protocol.queue({8, 3, 0, 0, 0, 1});
    ASSERT_EQ(protocol.serverLoop(), MB_OK);
    passAfter(400);
    EXPECT_EQ(table.timeOuts, 1);
    EXPECT_EQ(other.timeOuts, 0);
}

TEST_F(SlaveProtocolTest, AddressTwoFiftyFiveIsNeverSupervised) {
    ASSERT_EQ(protocol.setDataTable(255, &table), MB_OK);
    protocol.start();
    for (int i = 0; i < 5; ++i) passAfter(1000);
    EXPECT_EQ(table.timeOuts, 0);
}

TEST_F(SlaveProtocolTest, TimeOutZeroDisablesSupervisionAndConnectionStatus) {
    ASSERT_EQ(protocol.setTimeout(0), MB_OK);
    ASSERT_EQ(protocol.setDataTable(-1, &table), MB_OK);
    protocol.start();
    for (int i = 0; i < 3; ++i) {
        protocol.queue({1, 3, 0, 0, 0, 1});
        passAfter(100000);
        EXPECT_EQ(protocol.getConnectionStatus(), 0);
    }
    EXPECT_EQ(table.timeOuts, 0);
    EXPECT_EQ(protocol.getSuccessCounter(), 3u);
}

TEST_F(SlaveProtocolTest, ConnectionStatusFollowsServedRequestsAndShutdown) {
    ASSERT_EQ(protocol.setDataTable(1, &table), MB_OK);
    protocol.start();
    protocol.queue({1, 3, 0, 0, 0, 1});
    ASSERT_EQ(protocol.serverLoop(), MB_OK);
    EXPECT_EQ(protocol.getConnectionStatus(), 1);
    FakeClock::advance(999);
    EXPECT_EQ(protocol.getConnectionStatus(), 1);
    FakeClock::advance(1);
    EXPECT_EQ(protocol.getConnectionStatus(), 0);

    protocol.queue({1, 3, 0, 0, 0, 1});
    ASSERT_EQ(protocol.serverLoop(), MB_OK);
    EXPECT_EQ(protocol.getConnectionStatus(), 1);
    protocol.shutdownServer();
    EXPECT_EQ(protocol.getConnectionStatus(), 0);
}

TEST_F(SlaveProtocolTest, ChangedTimeOutAppliesFromTheNextRestart) {
    ASSERT_EQ(protocol.setDataTable(3, &table), MB_OK);  // started with 1000
    protocol.start();
    ASSERT_EQ(protocol.setTimeout(5000), MB_OK);
    passAfter(1000);
    EXPECT_EQ(table.timeOuts, 1);
    passAfter(1000);
    EXPECT_EQ(table.timeOuts, 1) << "restarted with the new 5000 ms";
    passAfter(4000);
    EXPECT_EQ(table.timeOuts, 2);
}

TEST_F(SlaveProtocolTest, SetTimeoutRangeIsUnsigned) {
    struct Case {
        std::uint32_t value;
        int result;
        std::uint32_t after;
    };
    for (const Case& c : {Case{100000, MB_OK, 100000}, Case{100001, MB_ERR_ILLEGAL_ARGUMENT, 100000},
                          Case{0xFFFFFFFFu, MB_ERR_ILLEGAL_ARGUMENT, 100000}, Case{0, MB_OK, 0}}) {
        EXPECT_EQ(protocol.setTimeout(c.value), c.result) << c.value;
        EXPECT_EQ(protocol.getTimeout(), c.after) << c.value;
    }
}

TEST_F(SlaveProtocolTest, SetDataTableAddressRules) {
    EXPECT_EQ(protocol.setDataTable(256, &table), MB_ERR_ILLEGAL_ARGUMENT);
    EXPECT_EQ(protocol.setDataTable(-2, &table), MB_ERR_ILLEGAL_ARGUMENT);
    EXPECT_TRUE(protocol.noDataTableConfigured());

    ASSERT_EQ(protocol.setDataTable(-1, &table), MB_OK);
    for (int address = 0; address < 256; ++address) {
        EXPECT_EQ(protocol.dataTable(address), &table);
    }
    ASSERT_EQ(protocol.setDataTable(-1, nullptr), MB_OK);
    EXPECT_TRUE(protocol.noDataTableConfigured());
}

TEST_F(SlaveProtocolTest, InstallingATableGivesAFullPeriod) {
    ASSERT_EQ(protocol.setDataTable(9, &table), MB_OK);
    protocol.start();
    passAfter(5000);
    EXPECT_EQ(table.timeOuts, 1);
    ASSERT_EQ(protocol.setDataTable(9, &table), MB_OK);
    passAfter(999);
    EXPECT_EQ(table.timeOuts, 1);
    passAfter(1);
    EXPECT_EQ(table.timeOuts, 2);
}

TEST_F(SlaveProtocolTest, CountersReset) {
    ASSERT_EQ(protocol.setDataTable(1, &table), MB_OK);
    protocol.start();
    protocol.queue({1, 3, 0, 0, 0, 1});
    ASSERT_EQ(protocol.serverLoop(), MB_OK);
    EXPECT_EQ(protocol.getTotalCounter(), 1u);
    protocol.resetTotalCounter();
    protocol.resetSuccessCounter();
    EXPECT_EQ(protocol.getTotalCounter(), 0u);
    EXPECT_EQ(protocol.getSuccessCounter(), 0u);
}

}  // namespace
}  // namespace mbslave

// End-of-frame silence, the expected-length table, and the RTU start-up
// and frame tolerance rules.
#include <gtest/gtest.h>

#include <cstdint>

#include "api/protocol_handle.hpp"
#include "rtu_test_support.hpp"
#include "engine/rtu_frame_bytes.hpp"
#include "serial/rtu_frame.hpp"
#include "support/timed_serial_line.hpp"
#include "support/wide_literal.hpp"

namespace mbslave {
namespace {

using test::FakeRtuLine;
using test::FakeSerialDevice;

TEST(RtuSilentInterval, FourCharacterTimesWithFloorAndTolerance) {
    struct Case {
        std::int32_t baudRate, toleranceUs, expected;
    };
    const Case cases[] = {
        {1200, 0, 36667},   {2400, 0, 18333},    {4800, 0, 9167},     {9600, 0, 4583},
        {19200, 0, 2292},   {38400, 0, 2000},    {57600, 0, 2000},    {115200, 0, 2000},
        {22000, 0, 2000},   {21000, 0, 2095},    {9600, 20000, 24583}, {115200, 20000, 22000},
        {1, 0, 44000000},   {0, 0, 2000},        {-9600, 5000, 7000},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(rtuSilentInterval(c.baudRate, c.toleranceUs), c.expected)
            << c.baudRate << " baud, tolerance " << c.toleranceUs;
    }
}

TEST(RtuRequestLength, SerialLineAndByteStreamRules) {
    // Expected lengths on a serial line and in a byte stream, with all 16
    // bytes in; 0: untold (the frame ends by silence or where its bytes end).
    struct Case {
        std::uint8_t functionCode, byte2, byte6, byte10;
        int serial, stream;
    };
    const Case cases[] = {
        {1, 0, 0, 0, 8, 8},        {2, 0, 0, 0, 8, 8},          {3, 0, 99, 99, 8, 8},
        {4, 0, 0, 0, 8, 8},        {5, 0, 0, 0, 8, 8},          {6, 0, 0, 0, 8, 8},
        {7, 0, 0, 0, 6, 4},        {15, 0, 2, 0, 11, 11},       {16, 0, 246, 0, 255, 255},
        {16, 0, 0xFF, 0, 264, 264}, {22, 0, 0, 0, 10, 10},      {23, 0, 0, 4, 17, 17},
        {23, 0, 0, 0xFF, 268, 268}, {8, 0, 0, 0, 0, 0},         {11, 0, 0, 0, 0, 4},
        {12, 0, 0, 0, 0, 4},       {17, 0, 0, 0, 0, 4},         {20, 7, 0, 0, 0, 12},
        {21, 13, 0, 0, 0, 18},     {24, 0, 0, 0, 0, 6},         {43, 14, 0, 0, 0, 7},
        {43, 13, 0, 0, 0, 0},      {0, 0, 0, 0, 0, 0},          {0x83, 0, 0, 0, 0, 0},
        {0x81, 0, 0, 0, 0, 0},     {127, 0, 0, 0, 0, 0},
    };
    const auto told = [](int length) { return length == 0 ? kRtuLengthUntold : length; };
    for (const Case& c : cases) {
        std::uint8_t frame[16] = {1, c.functionCode, c.byte2};
        frame[6] = c.byte6;
        frame[10] = c.byte10;
        EXPECT_EQ(rtuRequestLength(frame, 16, RtuLengthRules::serialLine), told(c.serial)) << int(c.functionCode);
        EXPECT_EQ(rtuRequestLength(frame, 16, RtuLengthRules::byteStream), told(c.stream)) << int(c.functionCode);
    }
    // A count byte not yet received leaves the length pending, whatever the
    // buffer holds beyond the bytes received.
    const struct {
        std::uint8_t functionCode;
        int received;
    } pending[] = {{16, 6}, {15, 5}, {23, 10}, {20, 2}, {21, 2}, {43, 2}, {3, 1}};
    for (const auto& p : pending) {
        std::uint8_t frame[16] = {1, p.functionCode, 4, 0, 0, 0, 4, 0, 0, 0, 4};
        EXPECT_EQ(rtuRequestLength(frame, p.received, RtuLengthRules::byteStream), kRtuLengthPending)
            << int(p.functionCode);
    }
}

// Real receivers hand bytes over in bursts; a pause between two bursts that
// outlasts the silent interval splits a frame. Its pieces are dropped
// without harm and the next frame is served; the tolerance that covers the
// pause keeps the frame whole.
TEST(RtuLineReceivers, AFrameSplitIntoBurstsIsDroppedCleanlyAndTheNextIsServed) {
    using Kind = test::LineReceiver::Kind;
    struct Case {
        const char* what;
        test::LineReceiver receiver;
        int baud;
        std::uint32_t toleranceMs;
        bool echoWhole;
    };
    const Case cases[] = {
        {"bytes at once", {Kind::immediate, 0}, 9600, 0, true},
        {"UART trigger 8", {Kind::uart, 8}, 9600, 0, false},
        {"UART trigger 8, tolerance 5", {Kind::uart, 8}, 9600, 5, true},
        {"USB latency 16 ms", {Kind::usbAdapter, 16}, 19200, 0, false},
        {"USB latency 16 ms, tolerance 14", {Kind::usbAdapter, 16}, 19200, 14, true},
    };
    for (const Case& c : cases) {
        test::TimedSerialDevice device(c.receiver, c.baud, 11);  // 8E1
        test::RecordingTable table;
        test::TestRtuProtocol protocol;
        protocol.setTickSource(&test::FakeClock::tick);
        protocol.attachSerialDevice(&device);
        protocol.setDataTable(1, &table);
        ASSERT_EQ(protocol.setFrameTolerance(c.toleranceMs), MB_OK);
        ASSERT_EQ(protocol.startupSerialServer(mbslave::test::wide(u"COM1"), c.baud, 8, 1, PARITY_EVEN), MB_OK);

        // The master sends the next request once the line is quiet again.
        const test::Bytes echo = test::echoRequest(1, 30);  // 36 bytes, ends by silence
        for (const test::Bytes& request : {echo, test::withCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x01})}) {
            device.send(request);
            for (int pass = 0; pass < 20 && !device.inputUsedUp(); ++pass) {
                EXPECT_EQ(protocol.serverLoop(), MB_OK) << c.what;
            }
        }
        std::vector<test::Bytes> expected;
        if (c.echoWhole) expected.push_back(echo);
        expected.push_back(test::withCrc({0x01, 0x03, 0x02, 0x00, 0x00}));
        EXPECT_EQ(device.writes, expected) << c.what;
        EXPECT_EQ(protocol.getSuccessCounter(), expected.size()) << c.what;
        if (!c.echoWhole) {
            EXPECT_GT(protocol.getTotalCounter(), 2u) << c.what;  // the pieces
        }
    }
}

// A line that never falls silent bounds the pass, both while a frame is
// received and while a reply waits for silence: at 115200 baud with a
// protocol time-out of 100 ms a frame may run 100 ms (the longest frame
// takes 25 ms), then the pass gives up; no reply goes into the noise.
TEST(RtuLineReceivers, NoiseThatNeverEndsBoundsThePass) {
    struct Case {
        const char* what;
        test::Bytes request;  // before the noise, empty: none
    };
    const Case cases[] = {
        {"noise only", {}},
        {"noise right after a request", test::withCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x01})},
    };
    for (const Case& c : cases) {
        test::TimedSerialDevice device({test::LineReceiver::Kind::immediate, 0}, 115200, 11);
        test::RecordingTable table;
        test::TestRtuProtocol protocol;
        protocol.setTickSource(&test::FakeClock::tick);
        protocol.attachSerialDevice(&device);
        protocol.setDataTable(1, &table);
        protocol.setTimeout(100);
        ASSERT_EQ(protocol.startupSerialServer(mbslave::test::wide(u"COM1"), 115200, 8, 1, PARITY_EVEN), MB_OK);
        test::Bytes line = c.request;
        line.insert(line.end(), 4000, 0x55);  // 380 ms without a pause
        device.send(line);
        const std::uint32_t begun = test::FakeClock::tick();
        EXPECT_EQ(protocol.serverLoop(), MB_OK) << c.what;
        const std::uint32_t took = test::FakeClock::tick() - begun;
        EXPECT_GE(took, 100u) << c.what;
        EXPECT_LE(took, 130u) << c.what;  // the 20 ms before the line starts, and the limit
        EXPECT_TRUE(device.writes.empty()) << c.what;
        EXPECT_FALSE(device.inputUsedUp()) << c.what;
    }
}

TEST(RtuStartup, OnlyEightDataBitsAndTheIntervalOfTheLine) {
    {
        FakeRtuLine line({1});
        ASSERT_EQ(line.started, MB_OK);
        EXPECT_EQ(line.protocol->getSilentInterval(), 2292);
        EXPECT_EQ(line.device.appliedSettings.back().dataBits, 8);
    }
    FakeSerialDevice device;
    test::TestRtuProtocol protocol;
    test::RecordingTable table;
    protocol.attachSerialDevice(&device);
    protocol.setDataTable(1, &table);
    EXPECT_EQ(protocol.startupSerialServer(mbslave::test::wide(u"COM1"), 9600, 7, 1, PARITY_NONE), MB_ERR_ILLEGAL_ARGUMENT);
    EXPECT_EQ(device.count(FakeSerialDevice::Call::open), 0);
    // The interval is computed also for a refused start-up.
    EXPECT_EQ(protocol.getSilentInterval(), 4583);
    EXPECT_EQ(protocol.startupSerialServer(mbslave::test::wide(u"COM1"), 9600, 9, 1, PARITY_NONE), MB_ERR_ILLEGAL_ARGUMENT);

    EXPECT_EQ(protocol.startupSerialServer(mbslave::test::wide(u"COM1"), 4800, 8, 1, PARITY_NONE), MB_OK);
    EXPECT_EQ(protocol.getSilentInterval(), 9167);
    // A second start-up at another rate is refused and leaves the running
    // line's interval alone.
    EXPECT_EQ(protocol.startupSerialServer(mbslave::test::wide(u"COM1"), 115200, 8, 1, PARITY_NONE), MB_ERR_ILLEGAL_STATE);
    EXPECT_EQ(protocol.startupSerialServer(mbslave::test::wide(u"COM1"), 115200, 7, 1, PARITY_NONE), MB_ERR_ILLEGAL_ARGUMENT);
    EXPECT_EQ(protocol.getSilentInterval(), 9167);
}

TEST(RtuFrameTolerance, RangeThenStateAndAppliedAtTheNextStartup) {
    FakeRtuLine line({1}, 9600);
    auto& rtu = *line.protocol;
    EXPECT_EQ(rtu.setFrameTolerance(21), MB_ERR_ILLEGAL_ARGUMENT);  // range first, while started
    EXPECT_EQ(rtu.setFrameTolerance(0xFFFFFFFFu), MB_ERR_ILLEGAL_ARGUMENT);
    EXPECT_EQ(rtu.setFrameTolerance(20), MB_ERR_ILLEGAL_STATE);
    EXPECT_EQ(rtu.frameTolerance, 0);

    rtu.shutdownServer();
    EXPECT_EQ(rtu.setFrameTolerance(21), MB_ERR_ILLEGAL_ARGUMENT);
    EXPECT_EQ(rtu.frameTolerance, 0);
    EXPECT_EQ(rtu.setFrameTolerance(20), MB_OK);
    EXPECT_EQ(rtu.frameTolerance, 20000);
    EXPECT_EQ(rtu.getSilentInterval(), 4583);  // not before the next start-up
    ASSERT_EQ(rtu.startupSerialServer(mbslave::test::wide(u"COM1"), 9600, 8, 1, PARITY_NONE), MB_OK);
    EXPECT_EQ(rtu.getSilentInterval(), 24583);

    // The interval is the read time-out of every byte after the first.
    line.device.readTimeouts.clear();
    line.receive(test::withCrc({0x01, 0x11}));
    ASSERT_EQ(rtu.serverLoop(), MB_OK);
    ASSERT_GE(line.device.readTimeouts.size(), 4u);
    EXPECT_EQ(line.device.readTimeouts[0], 1000000u);  // the protocol time-out
    for (std::size_t i = 1; i < line.device.readTimeouts.size(); ++i) {
        EXPECT_EQ(line.device.readTimeouts[i], 24583u) << i;
    }
}

TEST(RtuExports, CreateAndFrameToleranceThroughTheHandle) {
    MbusSlaveHandle* rtu = mbusSlave_createRtuProtocol();
    ASSERT_NE(rtu, nullptr);
    EXPECT_EQ(mbusSlave_isStarted(rtu), 0);
    EXPECT_EQ(mbusSlave_getTimeout(rtu), 1000u);
    EXPECT_EQ(toHandle(rtu)->protocol->getRequestInfo().protocolType, MB_PROTOCOL_RTU);
    EXPECT_EQ(mbusSlave_setFrameTolerance(rtu, 20), MB_OK);
    EXPECT_EQ(mbusSlave_setFrameTolerance(rtu, 21), MB_ERR_ILLEGAL_ARGUMENT);
    EXPECT_EQ(mbusSlave_setFrameTolerance(nullptr, 5), MB_ERR_ILLEGAL_STATE);
    EXPECT_EQ(mbusSlave_serverLoop(rtu), MB_ERR_ILLEGAL_STATE);
    mbusSlave_destroyProtocol(rtu);

    // A handle of another kind is refused before the range check.
    MbusSlaveHandle* tcp = mbusSlave_createTcpProtocol();
    ASSERT_NE(tcp, nullptr);
    EXPECT_EQ(mbusSlave_setFrameTolerance(tcp, 5), MB_ERR_ILLEGAL_STATE);
    EXPECT_EQ(mbusSlave_setFrameTolerance(tcp, 99), MB_ERR_ILLEGAL_STATE);
    mbusSlave_destroyProtocol(tcp);
}

}  // namespace
}  // namespace mbslave

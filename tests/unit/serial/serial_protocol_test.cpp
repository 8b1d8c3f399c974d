// SerialProtocol with a recording fake device behind its port: start-up
// checks and their order, RTS discipline around replies, the turnaround
// delay, result mapping, and the exported functions' handle rules.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "api/protocol_handle.hpp"
#include "engine/callback_data_table.hpp"
#include "support/callbacks.hpp"
#include "support/fake_serial_device.hpp"
#include "support/handle_ptr.hpp"
#include "support/test_protocol.hpp"
#include "support/wide_literal.hpp"
#include "test_serial_protocol.hpp"

namespace mbslave {
namespace {

using platform::DeviceResult;
using test::FakeSerialDevice;
using test::TestSerialProtocol;
using Call = FakeSerialDevice::Call;
using std::chrono::milliseconds;


struct StartupCase {
    const char* what;
    int tableAddress;  // -2: no table, -1: all addresses
    int dataBits, stopBits, parity;
    DeviceResult open, apply;
    int expected;
    bool portOpened;
};

TEST(SerialProtocolStartup, ChecksRunInOrderAndTheFirstFailureDecides) {
    const StartupCase cases[] = {
        {"ok", 1, 8, 1, PARITY_NONE, DeviceResult::ok, DeviceResult::ok, MB_OK, true},
        {"7 data bits", 1, 7, 2, PARITY_EVEN, DeviceResult::ok, DeviceResult::ok, MB_OK, true},
        {"no table", -2, 8, 1, PARITY_NONE, DeviceResult::ok, DeviceResult::ok, MB_ERR_NO_DATA_TABLE, false},
        {"no table, 9 bits, busy", -2, 9, 3, 5, DeviceResult::busy, DeviceResult::refused,
         MB_ERR_NO_DATA_TABLE, false},
        {"address 0 via -1", -1, 8, 1, PARITY_NONE, DeviceResult::ok, DeviceResult::ok,
         MB_ERR_SLAVE_ADDRESS_ZERO, false},
        {"address 0, 9 bits", 0, 9, 1, PARITY_NONE, DeviceResult::ok, DeviceResult::ok,
         MB_ERR_SLAVE_ADDRESS_ZERO, false},
        {"9 data bits", 1, 9, 1, PARITY_NONE, DeviceResult::ok, DeviceResult::ok, MB_ERR_ILLEGAL_ARGUMENT, false},
        {"9 bits, busy", 1, 9, 1, PARITY_NONE, DeviceResult::busy, DeviceResult::ok, MB_ERR_ILLEGAL_ARGUMENT, false},
        {"busy", 1, 8, 1, PARITY_NONE, DeviceResult::busy, DeviceResult::ok, MB_ERR_SERIAL_PORT_ALREADY_OPEN, true},
        {"no permission", 1, 8, 1, PARITY_NONE, DeviceResult::noPermission, DeviceResult::ok,
         MB_ERR_NO_PERMISSION, true},
        {"busy, stop 3", 1, 8, 3, PARITY_NONE, DeviceResult::busy, DeviceResult::ok,
         MB_ERR_SERIAL_PORT_ALREADY_OPEN, true},
        {"missing", 1, 8, 1, PARITY_NONE, DeviceResult::noSuchDevice, DeviceResult::ok, MB_ERR_PORT_OPEN, true},
        {"io", 1, 8, 1, PARITY_NONE, DeviceResult::ioError, DeviceResult::ok, MB_ERR_PORT_OPEN, true},
        {"defaults refused", 1, 8, 1, PARITY_NONE, DeviceResult::ok, DeviceResult::refused, MB_ERR_PORT_OPEN, true},
        {"stop bits 3", 1, 8, 3, PARITY_NONE, DeviceResult::ok, DeviceResult::ok, MB_ERR_ILLEGAL_ARGUMENT, true},
        {"parity 5", 1, 8, 1, 5, DeviceResult::ok, DeviceResult::ok, MB_ERR_ILLEGAL_ARGUMENT, true},
    };
    CallbackDataTable table;
    for (const StartupCase& c : cases) {
        FakeSerialDevice device;
        device.openResult = c.open;
        device.applyResult = c.apply;
        TestSerialProtocol protocol;
        protocol.attach(device);
        if (c.tableAddress != -2) protocol.setDataTable(c.tableAddress, &table);
        EXPECT_EQ(protocol.startupSerialServer(mbslave::test::wide(u"/dev/ttyX"), 9600, c.dataBits, c.stopBits, c.parity),
                  c.expected)
            << c.what;
        EXPECT_EQ(device.count(Call::open), c.portOpened ? 1 : 0) << c.what;
        EXPECT_EQ(protocol.isStarted(), c.expected == MB_OK) << c.what;
        // Whatever was opened and not kept was closed with its settings restored.
        if (c.expected != MB_OK && c.open == DeviceResult::ok && c.portOpened) {
            EXPECT_EQ(device.count(Call::restoreSettings), 1) << c.what;
            EXPECT_EQ(device.count(Call::close), 1) << c.what;
        }
        // RTS, raised by the open, stays up only on a started line (no RS-485).
        if (c.open == DeviceResult::ok && c.apply == DeviceResult::ok && c.portOpened) {
            EXPECT_EQ(device.rtsAsserted, c.expected == MB_OK) << c.what;
        }
    }
}

TEST(SerialProtocolStartup, AppliesTheRequestedSettingsWithoutHandshake) {
    FakeSerialDevice device;
    CallbackDataTable table;
    TestSerialProtocol protocol;
    protocol.attach(device);
    protocol.setDataTable(1, &table);
    ASSERT_EQ(protocol.startupSerialServer(mbslave::test::wide(u"COM4"), 57600, 7, 2, PARITY_ODD), MB_OK);
    EXPECT_EQ(device.openedPath, mbslave::test::comDevice(4));
    const platform::LineSettings& applied = device.appliedSettings.back();
    EXPECT_EQ(applied.baudRate, 57600);
    EXPECT_EQ(applied.dataBits, 7);
    EXPECT_EQ(applied.stopBits, 2);
    EXPECT_EQ(applied.parity, platform::Parity::odd);
    EXPECT_EQ(applied.flowControl, platform::FlowControl::none);
}

TEST(SerialProtocolStartup, WhileStartedIsRefusedAndTheRunningPortKeepsItsName) {
    FakeSerialDevice device;
    CallbackDataTable table;
    TestSerialProtocol protocol;
    protocol.attach(device);
    protocol.setDataTable(1, &table);
    ASSERT_EQ(protocol.startupSerialServer(mbslave::test::wide(u"/dev/ttyX"), 9600, 8, 1, PARITY_NONE), MB_OK);
    const std::size_t events = device.events.size();
    EXPECT_EQ(protocol.startupSerialServer(mbslave::test::wide(u"/dev/ttyOther"), 19200, 8, 1, PARITY_NONE),
              MB_ERR_ILLEGAL_STATE);
    EXPECT_EQ(device.events.size(), events);  // the port was not touched
    EXPECT_TRUE(protocol.isStarted());
    EXPECT_STREQ(protocol.getRequestInfo().peerName, "/dev/ttyX");
}

TEST(SerialProtocolStartup, PeerNameIsThePortNameAsUtf8EvenWhenTheStartFails) {
    FakeSerialDevice device;
    device.openResult = DeviceResult::noSuchDevice;
    CallbackDataTable table;
    TestSerialProtocol protocol;
    protocol.attach(device);
    protocol.setDataTable(1, &table);
    EXPECT_EQ(protocol.startupSerialServer(mbslave::test::wide(u"/dev/tty\u00e9\u4e2d"), 9600, 8, 1, PARITY_NONE),
              MB_ERR_PORT_OPEN);
    EXPECT_STREQ(protocol.getRequestInfo().peerName, "/dev/tty\xc3\xa9\xe4\xb8\xad");
    EXPECT_EQ(device.openedPath, "/dev/tty\xc3\xa9\xe4\xb8\xad");
    EXPECT_EQ(protocol.startupSerialServer(nullptr, 9600, 8, 1, PARITY_NONE), MB_ERR_PORT_OPEN);
    EXPECT_STREQ(protocol.getRequestInfo().peerName, "");
}

TEST(SerialProtocolStartup, RtsIdleLevelDependsOnRs485Mode) {
    CallbackDataTable table;
    for (std::uint32_t delay : {0u, 5u}) {
        FakeSerialDevice device;
        TestSerialProtocol protocol;
        protocol.attach(device);
        protocol.setDataTable(1, &table);
        ASSERT_EQ(protocol.enableRs485Mode(delay), MB_OK);
        ASSERT_EQ(protocol.startupSerialServer(mbslave::test::wide(u"/dev/ttyX"), 9600, 8, 1, PARITY_NONE), MB_OK);
        ASSERT_EQ(device.calls().back(), delay == 0 ? Call::rtsOn : Call::rtsOff) << delay;
        EXPECT_EQ(device.rtsAsserted, delay == 0);
    }
    // A device without RTS control still starts.
    FakeSerialDevice device;
    device.rtsResult = DeviceResult::ioError;
    TestSerialProtocol protocol;
    protocol.attach(device);
    protocol.setDataTable(1, &table);
    EXPECT_EQ(protocol.startupSerialServer(mbslave::test::wide(u"/dev/ttyX"), 9600, 8, 1, PARITY_NONE), MB_OK);
}

TEST(SerialProtocolRs485, RangeIsCheckedBeforeTheStartedState) {
    struct Case {
        std::uint32_t delay;
        bool started;
        int expected;
    };
    const Case cases[] = {
        {0, false, MB_OK},
        {1, false, MB_OK},
        {100000, false, MB_OK},
        {100001, false, MB_ERR_ILLEGAL_ARGUMENT},
        {0xFFFFFFFFu, false, MB_ERR_ILLEGAL_ARGUMENT},
        {100001, true, MB_ERR_ILLEGAL_ARGUMENT},
        {50, true, MB_ERR_ILLEGAL_STATE},
        {0, true, MB_ERR_ILLEGAL_STATE},
    };
    CallbackDataTable table;
    for (const Case& c : cases) {
        FakeSerialDevice device;
        TestSerialProtocol protocol;
        protocol.attach(device);
        protocol.setDataTable(1, &table);
        ASSERT_EQ(protocol.enableRs485Mode(7), MB_OK);
        if (c.started) {
            ASSERT_EQ(protocol.startupSerialServer(mbslave::test::wide(u"/dev/ttyX"), 9600, 8, 1, PARITY_NONE), MB_OK);
        }
        EXPECT_EQ(protocol.enableRs485Mode(c.delay), c.expected) << c.delay;
        const bool changed = c.expected == MB_OK;
        EXPECT_EQ(protocol.rs485Delay, changed ? c.delay : 7u) << c.delay;
        EXPECT_EQ(protocol.rs485Mode, changed ? c.delay != 0 : true) << c.delay;
    }
}

// A started protocol with a fake line behind it.
struct StartedProtocol {
    explicit StartedProtocol(std::uint32_t rs485Delay) {
        protocol.attach(device);
        protocol.setDataTable(1, &table);
        protocol.enableRs485Mode(rs485Delay);
        protocol.startupSerialServer(mbslave::test::wide(u"/dev/ttyX"), 9600, 8, 1, PARITY_NONE);
        device.events.clear();
    }
    CallbackDataTable table;
    FakeSerialDevice device;
    TestSerialProtocol protocol;
};

TEST(SerialProtocolReply, Rs485RaisesRtsJustAroundTheFrameAndHoldsItForTheDelay) {
    StartedProtocol line(40);
    line.protocol.setTimeout(250);
    const std::uint8_t frame[4] = {0x01, 0x07, 0xE2, 0x41};
    EXPECT_EQ(line.protocol.transmitReply(frame, 4), MB_OK);
    EXPECT_EQ(line.device.calls(), (std::vector<Call>{Call::purge, Call::marker, Call::rtsOn,
                                                      Call::write, Call::drain, Call::rtsOff}));
    ASSERT_EQ(line.device.writes.size(), 1u);
    EXPECT_EQ(line.device.writes[0], (std::vector<std::uint8_t>{0x01, 0x07, 0xE2, 0x41}));
    EXPECT_EQ(line.device.writeTimeouts[0], 250u);
    EXPECT_EQ(line.device.drainTimeouts[0], 250u);  // drain is bounded like the write
    const auto turnaround = line.device.between(Call::drain, Call::rtsOff);
    EXPECT_GE(turnaround, milliseconds(40));
    EXPECT_LT(turnaround, milliseconds(40 + 500));
    EXPECT_FALSE(line.device.rtsAsserted);
}

TEST(SerialProtocolReply, WithoutRs485RtsIsLeftAlone) {
    StartedProtocol line(0);
    const std::uint8_t frame[2] = {0x3A, 0x0A};
    EXPECT_EQ(line.protocol.transmitReply(frame, 2), MB_OK);
    EXPECT_EQ(line.device.calls(),
              (std::vector<Call>{Call::purge, Call::marker, Call::write, Call::drain}));
    EXPECT_TRUE(line.device.rtsAsserted);
    EXPECT_EQ(line.device.writeTimeouts[0], 1000u);  // the default protocol time-out
}

TEST(SerialProtocolReply, WriteAndDrainLimitsCoverTwiceTheFramesOwnTime) {
    struct Case {
        int baudRate, length;
        std::uint32_t timeOut, expected;
    };
    const Case cases[] = {
        {9600, 4, 250, 250},        // a short frame: the protocol time-out
        {2400, 255, 1000, 2338},    // RTU 2400 baud: 1169 ms on the wire
        {4800, 515, 1000, 2362},    // ASCII 4800 baud: 1181 ms on the wire
        {2400, 255, 5000, 5000},
        {2400, 255, 0, 0},          // no time-out: no limit
    };
    for (const Case& c : cases) {
        CallbackDataTable table;
        FakeSerialDevice device;
        TestSerialProtocol protocol;
        protocol.attach(device);
        protocol.setDataTable(1, &table);
        ASSERT_EQ(protocol.enableRs485Mode(1), MB_OK);
        ASSERT_EQ(protocol.setTimeout(c.timeOut), MB_OK);
        ASSERT_EQ(protocol.startupSerialServer(mbslave::test::wide(u"/dev/ttyX"), c.baudRate, 8, 1, PARITY_EVEN),
                  MB_OK);
        const std::vector<std::uint8_t> frame(static_cast<std::size_t>(c.length), 0x55);
        EXPECT_EQ(protocol.transmitReply(frame.data(), c.length), MB_OK);
        ASSERT_EQ(device.writeTimeouts.size(), 1u);
        EXPECT_EQ(device.writeTimeouts[0], c.expected) << c.baudRate << " " << c.length;
        ASSERT_EQ(device.drainTimeouts.size(), 1u);
        EXPECT_EQ(device.drainTimeouts[0], c.expected) << c.baudRate << " " << c.length;
    }
}

TEST(SerialProtocolReply, KernelRs485ModeKeepsRtsAwayFromUserSpace) {
    for (std::uint32_t delay : {0u, 3u}) {
        CallbackDataTable table;
        FakeSerialDevice device;
        device.switchesRts = true;
        TestSerialProtocol protocol;
        protocol.attach(device);
        protocol.setDataTable(1, &table);
        ASSERT_EQ(protocol.enableRs485Mode(delay), MB_OK);
        ASSERT_EQ(protocol.startupSerialServer(mbslave::test::wide(u"/dev/ttyX"), 9600, 8, 1, PARITY_NONE), MB_OK);
        EXPECT_TRUE(protocol.rtsSwitchedByDriver());
        const std::uint8_t frame[1] = {0x55};
        EXPECT_EQ(protocol.transmitReply(frame, 1), MB_OK);
        protocol.shutdownServer();
        EXPECT_EQ(device.count(Call::rtsOn) + device.count(Call::rtsOff), 0) << delay;
        EXPECT_EQ(device.count(Call::write), 1) << delay;
        EXPECT_FALSE(protocol.rtsSwitchedByDriver());
    }
}

TEST(SerialProtocolReply, WriteResultsMapToErrorCodesAndRtsDropsAnyway) {
    struct Case {
        DeviceResult write;
        int expected;
    };
    const Case cases[] = {{DeviceResult::ok, MB_OK},
                          {DeviceResult::timeout, MB_ERR_SEND_TIMEOUT},
                          {DeviceResult::ioError, MB_ERR_IO}};
    for (const Case& c : cases) {
        StartedProtocol line(1);
        line.device.writeResult = c.write;
        line.device.drainResult = DeviceResult::ioError;  // ignored
        line.device.purgeResult = DeviceResult::ioError;  // ignored
        const std::uint8_t frame[1] = {0x55};
        EXPECT_EQ(line.protocol.transmitReply(frame, 1), c.expected);
        EXPECT_EQ(line.device.calls().back(), Call::rtsOff);
        EXPECT_FALSE(line.device.rtsAsserted);
    }
}

TEST(SerialProtocolLifecycle, ShutdownClosesThePortAndDropsTheConnectionStatus) {
    StartedProtocol line(0);
    line.protocol.recordServedRequest(1);
    EXPECT_EQ(line.protocol.getConnectionStatus(), 1);
    line.protocol.shutdownServer();
    EXPECT_FALSE(line.protocol.isStarted());
    EXPECT_EQ(line.protocol.getConnectionStatus(), 0);
    EXPECT_EQ(line.device.calls(), (std::vector<Call>{Call::purge, Call::restoreSettings, Call::close}));
    line.protocol.shutdownServer();  // a stopped protocol: nothing more happens
    EXPECT_EQ(line.device.count(Call::close), 1);
    EXPECT_EQ(line.protocol.startupSerialServer(mbslave::test::wide(u"/dev/ttyX"), 9600, 8, 1, PARITY_NONE), MB_OK);
}

TEST(SerialProtocolLifecycle, DestructionClosesThePort) {
    FakeSerialDevice device;
    {
        CallbackDataTable table;
        TestSerialProtocol protocol;
        protocol.attach(device);
        protocol.setDataTable(1, &table);
        ASSERT_EQ(protocol.startupSerialServer(mbslave::test::wide(u"/dev/ttyX"), 9600, 8, 1, PARITY_NONE), MB_OK);
    }
    EXPECT_EQ(device.count(Call::restoreSettings), 1);
    EXPECT_EQ(device.count(Call::close), 1);
    EXPECT_FALSE(device.isOpen());
}

TEST(SerialProtocolLifecycle, ServerLoopReadsAndRepliesThroughThePort) {
    StartedProtocol line(0);
    line.device.queue({0x42});
    EXPECT_EQ(line.protocol.serverLoop(), MB_OK);
    ASSERT_EQ(line.device.writes.size(), 1u);
    EXPECT_EQ(line.device.writes[0], std::vector<std::uint8_t>{0x42});
    EXPECT_EQ(line.device.readTimeouts[0], 1000000u);
    line.device.endOfInput = DeviceResult::ioError;
    EXPECT_EQ(line.protocol.serverLoop(), MB_ERR_IO);
}

// Exported functions on handles of each kind.
using test::HandlePtr;

// A protocol of another kind whose argument-less start-up can be seen.
class StartableProtocol : public test::TestProtocol {
public:
    int startupServer() override {
        ++startups;
        start();
        return MB_OK;
    }
    int startups = 0;
};

TEST(SerialExports, NullHandlesAreRefused) {
    EXPECT_EQ(mbusSlave_startupSerialServer(nullptr, mbslave::test::wide(u"/dev/ttyS0"), 9600, 8, 1, PARITY_NONE),
              MB_ERR_ILLEGAL_STATE);
    EXPECT_EQ(mbusSlave_enableRs485Mode(nullptr, 10), MB_ERR_ILLEGAL_STATE);
    EXPECT_EQ(mbusSlave_enableRs485Mode(nullptr, 100001), MB_ERR_ILLEGAL_STATE);
}

TEST(SerialExports, HandlesOfAnotherKind) {
    HandlePtr plain(toOpaque(createHandle<test::TestProtocol>()));
    EXPECT_EQ(mbusSlave_enableRs485Mode(plain.get(), 100001), MB_ERR_ILLEGAL_STATE);
    EXPECT_EQ(mbusSlave_enableRs485Mode(plain.get(), 10), MB_ERR_ILLEGAL_STATE);
    // Kinds without an argument-less start-up refuse it.
    EXPECT_EQ(mbusSlave_startupSerialServer(plain.get(), mbslave::test::wide(u"/dev/ttyS0"), 9600, 8, 1, PARITY_NONE),
              MB_ERR_ILLEGAL_STATE);

    HandlePtr startable(toOpaque(createHandle<StartableProtocol>()));
    auto& protocol = static_cast<StartableProtocol&>(*toHandle(startable.get())->protocol);
    EXPECT_EQ(mbusSlave_startupSerialServer(startable.get(), mbslave::test::wide(u"/dev/ttyS0"), 9600, 9, 3, 7), MB_OK);
    EXPECT_EQ(protocol.startups, 1);
    EXPECT_EQ(mbusSlave_isStarted(startable.get()), 1);
}

TEST(SerialExports, ForwardToTheSerialProtocol) {
    FakeSerialDevice device;
    HandlePtr handle(toOpaque(createHandle<TestSerialProtocol>()));
    auto& protocol = static_cast<TestSerialProtocol&>(*toHandle(handle.get())->protocol);
    protocol.attach(device);
    EXPECT_EQ(mbusSlave_startupSerialServer(handle.get(), mbslave::test::wide(u"COM1"), 9600, 8, 1, PARITY_NONE),
              MB_ERR_NO_DATA_TABLE);
    ASSERT_EQ(test::configureEmptyCallbacks(handle.get(), 3),
              MB_OK);
    EXPECT_EQ(mbusSlave_enableRs485Mode(handle.get(), 100001), MB_ERR_ILLEGAL_ARGUMENT);
    EXPECT_EQ(mbusSlave_enableRs485Mode(handle.get(), 3), MB_OK);
    EXPECT_EQ(mbusSlave_startupSerialServer(handle.get(), mbslave::test::wide(u"COM1"), 19200, 8, 2, PARITY_NONE), MB_OK);
    EXPECT_EQ(device.openedPath, mbslave::test::comDevice(1));
    EXPECT_EQ(mbusSlave_isStarted(handle.get()), 1);
    EXPECT_EQ(mbusSlave_enableRs485Mode(handle.get(), 3), MB_ERR_ILLEGAL_STATE);
    mbusSlave_shutdownServer(handle.get());
    EXPECT_EQ(mbusSlave_isStarted(handle.get()), 0);
    EXPECT_EQ(mbusSlave_enableRs485Mode(handle.get(), 0), MB_OK);
    EXPECT_FALSE(protocol.rs485Mode);
}

}  // namespace
}  // namespace mbslave

// SerialPort against a recording fake device: call order, result mapping
// and failures that a pseudo-terminal does not produce.
#include <gtest/gtest.h>

#include <cstdint>

#include "serial/serial_port.hpp"
#include "support/fake_serial_device.hpp"
#include "support/wide_literal.hpp"

namespace mbslave {
namespace {

using platform::DeviceResult;
using test::FakeSerialDevice;
using Call = FakeSerialDevice::Call;

TEST(SerialPortFake, OpenMapsTheNameSavesSettingsPurgesAndAppliesDefaults) {
    FakeSerialDevice device;
    SerialPort port;
    port.attachDevice(&device);
    ASSERT_EQ(port.open("com2:"), 0);
    EXPECT_EQ(device.openedPath, mbslave::test::comDevice(2));
    // RTS, raised by the system's open, drops with the defaults (no handshake).
    EXPECT_EQ(device.calls(), (std::vector<Call>{Call::open, Call::saveSettings, Call::purge,
                                                 Call::applyLineSettings, Call::rtsOff}));
    EXPECT_FALSE(device.rtsAsserted);
    ASSERT_EQ(device.appliedSettings.size(), 1u);
    const platform::LineSettings& defaults = device.appliedSettings[0];
    EXPECT_EQ(defaults.baudRate, 9600);
    EXPECT_EQ(defaults.dataBits, 8);
    EXPECT_EQ(defaults.stopBits, 1);
    EXPECT_EQ(defaults.parity, platform::Parity::none);
    EXPECT_EQ(defaults.flowControl, platform::FlowControl::none);

    device.events.clear();
    port.close();
    EXPECT_EQ(device.calls(), (std::vector<Call>{Call::purge, Call::restoreSettings, Call::close}));
}

TEST(SerialPortFake, OpenFailuresMapToPortResults) {
    struct Case {
        DeviceResult open, save, apply;
        int expected;
        bool restoredAndClosed;
    };
    const Case cases[] = {
        {DeviceResult::noSuchDevice, DeviceResult::ok, DeviceResult::ok, MB_ERR_PORT_OPEN, false},
        {DeviceResult::busy, DeviceResult::ok, DeviceResult::ok, MB_ERR_SERIAL_PORT_ALREADY_OPEN, false},
        {DeviceResult::noPermission, DeviceResult::ok, DeviceResult::ok, MB_ERR_NO_PERMISSION, false},
        {DeviceResult::ioError, DeviceResult::ok, DeviceResult::ok, MB_ERR_IO, false},
        {DeviceResult::ok, DeviceResult::ioError, DeviceResult::ok, MB_ERR_IO, false},
        {DeviceResult::ok, DeviceResult::ok, DeviceResult::refused, MB_ERR_ILLEGAL_ARGUMENT, true},
        {DeviceResult::ok, DeviceResult::ok, DeviceResult::ioError, MB_ERR_IO, true},
    };
    for (const Case& c : cases) {
        FakeSerialDevice device;
        device.openResult = c.open;
        device.saveResult = c.save;
        device.applyResult = c.apply;
        SerialPort port;
        port.attachDevice(&device);
        EXPECT_EQ(port.open("/dev/ttyX"), c.expected);
        EXPECT_FALSE(port.isOpen());
        EXPECT_EQ(device.count(Call::restoreSettings), c.restoredAndClosed ? 1 : 0);
        // Whatever was opened is closed again.
        EXPECT_EQ(device.count(Call::close), c.open == DeviceResult::ok ? 1 : 0);
    }
}

TEST(SerialPortFake, AnEmptyNameNeverReachesTheDevice) {
    FakeSerialDevice device;
    SerialPort port;
    port.attachDevice(&device);
    EXPECT_EQ(port.open(""), MB_ERR_PORT_OPEN);
    EXPECT_TRUE(device.events.empty());
}

TEST(SerialPortFake, ConfigureHandsTheValuesOverAndKeepsThemOnlyWhenTaken) {
    FakeSerialDevice device;
    SerialPort port;
    port.attachDevice(&device);
    ASSERT_EQ(port.open("/dev/ttyX"), 0);
    ASSERT_EQ(port.configure(76800, 7, 2, PARITY_ODD, HANDSHAKE_RTS_TOGGLE), 0);
    const platform::LineSettings& applied = device.appliedSettings.back();
    EXPECT_EQ(applied.baudRate, 76800);
    EXPECT_EQ(applied.dataBits, 7);
    EXPECT_EQ(applied.stopBits, 2);
    EXPECT_EQ(applied.parity, platform::Parity::odd);
    EXPECT_EQ(applied.flowControl, platform::FlowControl::rtsToggle);
    EXPECT_EQ(port.baudRate(), 76800);
    EXPECT_EQ(port.handshake(), HANDSHAKE_RTS_TOGGLE);

    device.applyResult = DeviceResult::refused;
    EXPECT_EQ(port.configure(1234567, 8, 1, PARITY_EVEN, HANDSHAKE_NONE), MB_ERR_ILLEGAL_ARGUMENT);
    device.applyResult = DeviceResult::ioError;
    EXPECT_EQ(port.configure(9600, 8, 1, PARITY_EVEN, HANDSHAKE_NONE), MB_ERR_IO);
    EXPECT_EQ(port.baudRate(), 76800);
    EXPECT_EQ(port.handshake(), HANDSHAKE_RTS_TOGGLE);

    // Values outside their sets never reach the device.
    const int applies = device.count(Call::applyLineSettings);
    EXPECT_EQ(port.configure(9600, 8, 1, PARITY_EVEN, 7), MB_ERR_ILLEGAL_ARGUMENT);
    // Besides 0..2 only <windows.h>'s three parity bits name a parity.
    for (int parity : {3, -1, 0x0300, 0x0800, 0x1000}) {
        EXPECT_EQ(port.configure(9600, 8, 1, parity, HANDSHAKE_NONE), MB_ERR_ILLEGAL_ARGUMENT) << parity;
    }
    EXPECT_EQ(device.count(Call::applyLineSettings), applies);
}

TEST(SerialPortFake, HardwareHandshakeRefusesRtsAndDrain) {
    for (int handshake : {HANDSHAKE_RTS_CTS, HANDSHAKE_RTS_TOGGLE}) {
        FakeSerialDevice device;
        SerialPort port;
        port.attachDevice(&device);
        ASSERT_EQ(port.open("/dev/ttyX"), 0);
        device.events.clear();
        ASSERT_EQ(port.configure(9600, 8, 1, PARITY_NONE, handshake), 0);
        EXPECT_EQ(port.setRts(), MB_ERR_ILLEGAL_STATE);
        EXPECT_EQ(port.clearRts(), MB_ERR_ILLEGAL_STATE);
        EXPECT_EQ(port.drain(0), MB_ERR_ILLEGAL_STATE);
        EXPECT_EQ(port.purge(), 0);
        EXPECT_EQ(device.count(Call::rtsOn) + device.count(Call::rtsOff) + device.count(Call::drain), 0);
    }
}

TEST(SerialPortFake, TransfersMapDeviceResults) {
    struct Case {
        DeviceResult device;
        int expected;      // write and drain
        int expectedRead;  // readByte
    };
    const Case cases[] = {{DeviceResult::ok, 0, 0},
                          {DeviceResult::timeout, MB_ERR_SEND_TIMEOUT, MB_ERR_REPLY_TIMEOUT},
                          {DeviceResult::ioError, MB_ERR_IO, MB_ERR_IO},
                          {DeviceResult::refused, MB_ERR_IO, MB_ERR_IO}};
    for (const Case& c : cases) {
        FakeSerialDevice device;
        SerialPort port;
        port.attachDevice(&device);
        ASSERT_EQ(port.open("/dev/ttyX"), 0);
        device.writeResult = c.device;
        device.endOfInput = c.device;
        device.drainResult = c.device == DeviceResult::ok ? DeviceResult::ok : DeviceResult::ioError;
        device.rtsResult = device.drainResult;
        device.purgeResult = device.drainResult;
        const std::uint8_t frame[3] = {1, 2, 3};
        std::uint8_t byte = 0;
        EXPECT_EQ(port.write(frame, 3, 250), c.expected);
        EXPECT_EQ(device.writeTimeouts.back(), 250u);
        if (c.device != DeviceResult::ok) {
            EXPECT_EQ(port.readByte(&byte, 4583), c.expectedRead);
        }
        const int lineResult = c.device == DeviceResult::ok ? 0 : MB_ERR_IO;
        EXPECT_EQ(port.drain(0), lineResult);
        device.drainResult = c.device;
        EXPECT_EQ(port.drain(250), c.expected);  // a transmitter that does not empty in time
        EXPECT_EQ(device.drainTimeouts.back(), 250u);
        EXPECT_EQ(port.purge(), lineResult);
        EXPECT_EQ(port.setRts(), lineResult);
        EXPECT_EQ(port.clearRts(), lineResult);
    }
}

TEST(SerialPortFake, ReadsPassTheMicrosecondTimeOutUnchanged) {
    FakeSerialDevice device;
    SerialPort port;
    port.attachDevice(&device);
    ASSERT_EQ(port.open("/dev/ttyX"), 0);
    device.queue({0xAB, FakeSerialDevice::kSilence});
    std::uint8_t byte = 0;
    EXPECT_EQ(port.readByte(&byte, 0), 0);
    EXPECT_EQ(byte, 0xAB);
    EXPECT_EQ(port.readByte(&byte, 1001), MB_ERR_REPLY_TIMEOUT);
    EXPECT_EQ(device.readTimeouts, (std::vector<std::uint32_t>{0, 1001}));
}

TEST(SerialPortFake, AttachingADeviceClosesTheOpenOne) {
    FakeSerialDevice first;
    FakeSerialDevice second;
    SerialPort port;
    port.attachDevice(&first);
    ASSERT_EQ(port.open("/dev/ttyX"), 0);
    port.attachDevice(&second);
    EXPECT_FALSE(first.isOpen());
    EXPECT_EQ(first.count(Call::restoreSettings), 1);
    EXPECT_FALSE(port.isOpen());
}

}  // namespace
}  // namespace mbslave

#include "serial/serial_port.hpp"

#include "platform/serial_port_name.hpp"

namespace mbslave {
namespace {

using platform::DeviceResult;

// Result of a read or write: nothing in time is a time-out, anything else
// that went wrong a device failure.
int transferResult(DeviceResult result) noexcept {
    switch (result) {
        case DeviceResult::ok:
            return 0;
        case DeviceResult::timeout:
            return SER_ERR_TIMEOUT;
        default:
            return SER_ERR_IO;
    }
}

int openFailure(DeviceResult result) noexcept {
    switch (result) {
        case DeviceResult::noSuchDevice:
            return SER_ERR_NO_SUCH_PORT;
        case DeviceResult::busy:
            return SER_ERR_PORT_BUSY;
        case DeviceResult::noPermission:
            return SER_ERR_NO_PERMISSION;
        default:
            return SER_ERR_IO;
    }
}

}  // namespace

void SerialPort::attachDevice(platform::SerialDevice* device) noexcept {
    close();
    device_ = device != nullptr ? device : &systemDevice_;
}

int SerialPort::open(const char* name) noexcept {
    if (isOpen()) close();
    if (name == nullptr || name[0] == '\0') return SER_ERR_NO_SUCH_PORT;

    platform::DevicePathBuffer pathBuffer{};
    const DeviceResult opened = device_->open(platform::serialDevicePath(name, pathBuffer));
    if (opened != DeviceResult::ok) return openFailure(opened);

    if (device_->saveSettings() != DeviceResult::ok) {
        device_->close();
        return SER_ERR_IO;
    }
    purge();
    const int result = configure(9600, 8, 1, PARITY_NONE, HANDSHAKE_NONE);
    // A device that cannot run the defaults is of no use: it gets its own
    // settings back and is released.
    if (result != 0) close();
    return result;
}

void SerialPort::close() noexcept {
    if (!isOpen()) return;
    purge();
    device_->restoreSettings();
    device_->close();
}

int SerialPort::configure(std::int32_t baudRate, std::int32_t dataBits, std::int32_t stopBits,
                          std::int32_t parity, std::int32_t handshake) noexcept {
    if (!isOpen()) return SER_ERR_NOT_OPEN;

    platform::LineSettings settings{};
    settings.baudRate = baudRate;  // the device decides which rates it runs
    if (dataBits != 7 && dataBits != 8) return SER_ERR_PARAMETER;
    settings.dataBits = dataBits;
    if (stopBits != 1 && stopBits != 2) return SER_ERR_PARAMETER;
    settings.stopBits = stopBits;
    switch (parity) {
        case PARITY_NONE: settings.parity = platform::Parity::none; break;
        case PARITY_ODD: settings.parity = platform::Parity::odd; break;
        case PARITY_EVEN: settings.parity = platform::Parity::even; break;
        default: return SER_ERR_PARAMETER;
    }
    switch (handshake) {
        case HANDSHAKE_NONE: settings.flowControl = platform::FlowControl::none; break;
        case HANDSHAKE_RTS_CTS: settings.flowControl = platform::FlowControl::rtsCts; break;
        case HANDSHAKE_RTS_TOGGLE: settings.flowControl = platform::FlowControl::rtsToggle; break;
        default: return SER_ERR_PARAMETER;
    }

    // A refused setting is a bad setting, not a device failure.
    const DeviceResult applied = device_->applyLineSettings(settings);
    if (applied != DeviceResult::ok) {
        return applied == DeviceResult::ioError ? SER_ERR_IO : SER_ERR_PARAMETER;
    }
    baudRate_ = baudRate;
    handshake_ = handshake;
    // The system raises RTS when it opens a device; without handshake RTS is
    // ours, and an RS-485 transceiver must not drive the bus until asked.
    if (handshake == HANDSHAKE_NONE) driveRts(false);
    return 0;
}

int SerialPort::readByte(std::uint8_t* buffer, std::uint32_t timeout) noexcept {
    if (!isOpen()) return SER_ERR_NOT_OPEN;
    return transferResult(device_->readByte(buffer[0], timeout));
}

int SerialPort::write(const std::uint8_t* buffer, int length, std::uint32_t timeout) noexcept {
    if (!isOpen()) return SER_ERR_NOT_OPEN;
    if (length < 0) return SER_ERR_PARAMETER;
    if (length == 0) return 0;
    return transferResult(device_->write(buffer, length, timeout));
}

int SerialPort::purge() noexcept {
    if (!isOpen()) return SER_ERR_NOT_OPEN;
    return device_->purge() == DeviceResult::ok ? 0 : SER_ERR_IO;
}

int SerialPort::drain(std::uint32_t timeout) noexcept {
    if (!isOpen()) return SER_ERR_NOT_OPEN;
    if (handshake_ != HANDSHAKE_NONE) return SER_ERR_HANDSHAKE;
    return transferResult(device_->drain(timeout));
}

int SerialPort::setRts() noexcept { return driveRts(true); }

int SerialPort::clearRts() noexcept { return driveRts(false); }

int SerialPort::driveRts(bool asserted) noexcept {
    if (!isOpen()) return SER_ERR_NOT_OPEN;
    if (handshake_ != HANDSHAKE_NONE) return SER_ERR_HANDSHAKE;
    if (device_->driverSwitchesRts()) return 0;
    return device_->setRts(asserted) == DeviceResult::ok ? 0 : SER_ERR_IO;
}

}  // namespace mbslave

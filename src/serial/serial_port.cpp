#include "serial/serial_port.hpp"

#include "platform/serial_port_name.hpp"

namespace mbslave {
namespace {

using platform::DeviceResult;

// Result of a transfer: nothing (or not everything) in time is the
// direction's time-out, anything else that went wrong a device failure.
int transferResult(DeviceResult result, int timedOut) noexcept {
    switch (result) {
        case DeviceResult::ok:
            return MB_OK;
        case DeviceResult::timeout:
            return timedOut;
        default:
            return MB_ERR_IO;
    }
}

int openFailure(DeviceResult result) noexcept {
    switch (result) {
        case DeviceResult::noSuchDevice:
            return MB_ERR_PORT_OPEN;
        case DeviceResult::busy:
            return MB_ERR_SERIAL_PORT_ALREADY_OPEN;
        case DeviceResult::noPermission:
            return MB_ERR_NO_PERMISSION;
        default:
            return MB_ERR_IO;
    }
}

}  // namespace

void SerialPort::attachDevice(platform::SerialDevice* device) noexcept {
    close();
    device_ = device != nullptr ? device : &systemDevice_;
}

bool SerialPort::isOpen() const noexcept { return device_->isOpen(); }

std::int32_t SerialPort::baudRate() const noexcept { return baudRate_; }

int SerialPort::open(const char* name) noexcept {
    if (isOpen()) close();
    if (name == nullptr || name[0] == '\0') return MB_ERR_PORT_OPEN;

    platform::DevicePathBuffer pathBuffer{};
    const DeviceResult opened = device_->open(platform::serialDevicePath(name, pathBuffer));
    if (opened != DeviceResult::ok) return openFailure(opened);

    if (device_->saveSettings() != DeviceResult::ok) {
        device_->close();
        return MB_ERR_IO;
    }
    purge();
    const int result = configure(9600, 8, 1, PARITY_NONE, HANDSHAKE_NONE);
    // A device that cannot run the defaults is of no use: it gets its own
    // settings back and is released.
    if (result != MB_OK) close();
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
    if (!isOpen()) return MB_ERR_ILLEGAL_STATE;

    platform::LineSettings settings{};
    settings.baudRate = baudRate;  // the device decides which rates it runs
    if (dataBits != 7 && dataBits != 8) return MB_ERR_ILLEGAL_ARGUMENT;
    settings.dataBits = dataBits;
    if (stopBits != 1 && stopBits != 2) return MB_ERR_ILLEGAL_ARGUMENT;
    settings.stopBits = stopBits;
    switch (parity) {
        case PARITY_NONE:
        case kCommPropParityNone: settings.parity = platform::Parity::none; break;
        case PARITY_ODD:
        case kCommPropParityOdd: settings.parity = platform::Parity::odd; break;
        case PARITY_EVEN:
        case kCommPropParityEven: settings.parity = platform::Parity::even; break;
        default: return MB_ERR_ILLEGAL_ARGUMENT;
    }
    switch (handshake) {
        case HANDSHAKE_NONE: settings.flowControl = platform::FlowControl::none; break;
        case HANDSHAKE_RTS_CTS: settings.flowControl = platform::FlowControl::rtsCts; break;
        case HANDSHAKE_RTS_TOGGLE: settings.flowControl = platform::FlowControl::rtsToggle; break;
        default: return MB_ERR_ILLEGAL_ARGUMENT;
    }

    // A refused setting is a bad setting, not a device failure.
    const DeviceResult applied = device_->applyLineSettings(settings);
    if (applied != DeviceResult::ok) {
        return applied == DeviceResult::ioError ? MB_ERR_IO : MB_ERR_ILLEGAL_ARGUMENT;
    }
    baudRate_ = baudRate;
    handshake_ = handshake;
    // The system raises RTS when it opens a device; without handshake RTS is
    // ours, and an RS-485 transceiver must not drive the bus until asked.
    if (handshake == HANDSHAKE_NONE) driveRts(false);
    return MB_OK;
}

int SerialPort::readByte(std::uint8_t* buffer, std::uint32_t timeout) noexcept {
    if (!isOpen()) return MB_ERR_ILLEGAL_STATE;
    return transferResult(device_->readByte(buffer[0], timeout), MB_ERR_REPLY_TIMEOUT);
}

int SerialPort::write(const std::uint8_t* buffer, int length, std::uint32_t timeout) noexcept {
    if (!isOpen()) return MB_ERR_ILLEGAL_STATE;
    if (length < 0) return MB_ERR_ILLEGAL_ARGUMENT;
    if (length == 0) return MB_OK;
    return transferResult(device_->write(buffer, length, timeout), MB_ERR_SEND_TIMEOUT);
}

int SerialPort::purge() noexcept {
    if (!isOpen()) return MB_ERR_ILLEGAL_STATE;
    return device_->purge() == DeviceResult::ok ? MB_OK : MB_ERR_IO;
}

int SerialPort::drain(std::uint32_t timeout) noexcept {
    if (!isOpen()) return MB_ERR_ILLEGAL_STATE;
    if (handshake_ != HANDSHAKE_NONE) return MB_ERR_ILLEGAL_STATE;
    return transferResult(device_->drain(timeout), MB_ERR_SEND_TIMEOUT);
}

int SerialPort::setRts() noexcept { return driveRts(true); }

int SerialPort::clearRts() noexcept { return driveRts(false); }

int SerialPort::driveRts(bool asserted) noexcept {
    if (!isOpen()) return MB_ERR_ILLEGAL_STATE;
    if (handshake_ != HANDSHAKE_NONE) return MB_ERR_ILLEGAL_STATE;
    if (device_->driverSwitchesRts()) return MB_OK;
    return device_->setRts(asserted) == DeviceResult::ok ? MB_OK : MB_ERR_IO;
}

}  // namespace mbslave

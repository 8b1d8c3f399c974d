// One serial line: open by port name with the device's own settings saved
// for close, line settings, single-byte reads and whole-buffer writes with
// time-outs, purge, drain and RTS control. Knows nothing of Modbus; every
// operation returns 0 or one of the SER_ERR_ codes.
#pragma once

#include <cstdint>

#include "mbslave.h"  // PARITY_ values
#include "platform/serial_device.hpp"
#include "platform/system_serial_device.hpp"

namespace mbslave {

constexpr int SER_ERR_PARAMETER = 0x1101;
constexpr int SER_ERR_IO = 0x1102;
constexpr int SER_ERR_NO_SUCH_PORT = 0x1103;
constexpr int SER_ERR_PORT_BUSY = 0x1104;
constexpr int SER_ERR_NOT_OPEN = 0x1105;
constexpr int SER_ERR_TIMEOUT = 0x1106;
constexpr int SER_ERR_HANDSHAKE = 0x1108;
constexpr int SER_ERR_NO_PERMISSION = 0x1109;  // the user may not open the device

constexpr int HANDSHAKE_NONE = 0;
constexpr int HANDSHAKE_RTS_CTS = 1;
constexpr int HANDSHAKE_RTS_TOGGLE = 2;

class SerialPort {
public:
    SerialPort() noexcept = default;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;
    ~SerialPort() { close(); }

    // Puts another device behind the port (tests, fuzzers); null goes back
    // to the system's serial device. An open port is closed first.
    void attachDevice(platform::SerialDevice* device) noexcept;

    // Opens the named port (closing it first if open) with 9600 8N1 and no
    // handshake; the device's own settings come back at close.
    int open(const char* name) noexcept;
    void close() noexcept;
    bool isOpen() const noexcept { return device_->isOpen(); }

    int configure(std::int32_t baudRate, std::int32_t dataBits, std::int32_t stopBits,
                  std::int32_t parity, std::int32_t handshake) noexcept;

    // One byte into buffer[0]; timeout in microseconds, 0 waits without limit.
    int readByte(std::uint8_t* buffer, std::uint32_t timeout) noexcept;
    // length bytes; timeout in milliseconds, 0 without limit. A partial
    // write is SER_ERR_TIMEOUT.
    int write(const std::uint8_t* buffer, int length, std::uint32_t timeout) noexcept;
    int purge() noexcept;
    // Waits until the written bytes have left the transmitter, at most
    // timeout milliseconds (0: no limit): SER_ERR_TIMEOUT after that.
    int drain(std::uint32_t timeout) noexcept;
    // RTS level; while the driver switches RTS itself (kernel RS-485 mode)
    // the line is left to it and these succeed without touching it.
    int setRts() noexcept;
    int clearRts() noexcept;
    bool driverSwitchesRts() const noexcept { return isOpen() && device_->driverSwitchesRts(); }

    std::int32_t baudRate() const noexcept { return baudRate_; }
    std::int32_t handshake() const noexcept { return handshake_; }

private:
    int driveRts(bool asserted) noexcept;

    std::int32_t baudRate_ = 0;
    std::int32_t handshake_ = HANDSHAKE_NONE;
    platform::SystemSerialDevice systemDevice_;
    platform::SerialDevice* device_ = &systemDevice_;
};

}  // namespace mbslave

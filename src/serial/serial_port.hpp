// One serial line: open by port name with the device's own settings saved
// for close, line settings, single-byte reads and whole-buffer writes with
// time-outs, purge, drain and RTS control. Knows nothing of Modbus framing.
// The device's results become the library's error codes here, once: every
// operation returns MB_OK, MB_ERR_ILLEGAL_STATE on a port that is not open
// (or RTS and drain under a handshake), MB_ERR_ILLEGAL_ARGUMENT for a
// setting the port or device does not take, or MB_ERR_IO; time-outs and
// open failures as each function says.
#pragma once

#include <cstdint>

#include "mbslave.h"  // PARITY_ values
#include "platform/serial_device.hpp"
#include "platform/system_serial_device.hpp"

namespace mbslave {

constexpr int HANDSHAKE_NONE = 0;
constexpr int HANDSHAKE_RTS_CTS = 1;
constexpr int HANDSHAKE_RTS_TOGGLE = 2;

// The parity names as <windows.h> defines them (COMMPROP bits): a program
// that includes it after mbslave.h passes these, and means the same parity.
constexpr int kCommPropParityNone = 0x0100;
constexpr int kCommPropParityOdd = 0x0200;
constexpr int kCommPropParityEven = 0x0400;

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
    // handshake; the device's own settings come back at close. No such port:
    // MB_ERR_PORT_OPEN; another holder has it: MB_ERR_SERIAL_PORT_ALREADY_OPEN;
    // this user may not open it: MB_ERR_NO_PERMISSION.
    int open(const char* name) noexcept;
    void close() noexcept;
    bool isOpen() const noexcept;

    int configure(std::int32_t baudRate, std::int32_t dataBits, std::int32_t stopBits,
                  std::int32_t parity, std::int32_t handshake) noexcept;

    // One byte into buffer[0]; timeout in microseconds, 0 waits without
    // limit. No byte in time (the line was silent): MB_ERR_REPLY_TIMEOUT.
    int readByte(std::uint8_t* buffer, std::uint32_t timeout) noexcept;
    // length bytes; timeout in milliseconds, 0 without limit. Not all of it
    // in time: MB_ERR_SEND_TIMEOUT.
    int write(const std::uint8_t* buffer, int length, std::uint32_t timeout) noexcept;
    int purge() noexcept;
    // Waits until the written bytes have left the transmitter, at most
    // timeout milliseconds (0: no limit): MB_ERR_SEND_TIMEOUT after that.
    int drain(std::uint32_t timeout) noexcept;
    // RTS level; while the driver switches RTS itself (kernel RS-485 mode)
    // the line is left to it and these succeed without touching it.
    int setRts() noexcept;
    int clearRts() noexcept;
    bool driverSwitchesRts() const noexcept { return isOpen() && device_->driverSwitchesRts(); }

    std::int32_t baudRate() const noexcept;
    std::int32_t handshake() const noexcept { return handshake_; }

private:
    int driveRts(bool asserted) noexcept;

    std::int32_t baudRate_ = 0;
    std::int32_t handshake_ = HANDSHAKE_NONE;
    platform::SystemSerialDevice systemDevice_;
    platform::SerialDevice* device_ = &systemDevice_;
};

}  // namespace mbslave

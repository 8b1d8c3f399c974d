// SerialDevice on a Linux tty: exclusive open (flock + TIOCEXCL), line
// settings through termios2 (any baud rate the driver takes; the classic
// termios calls with the Bnnn rates where the system lacks it), byte reads
// from a small receive buffer refilled with ppoll/read, and writes with
// poll against a deadline.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/serial_device.hpp"

namespace mbslave::platform {

class PosixSerialDevice final : public SerialDevice {
public:
    PosixSerialDevice() noexcept = default;
    ~PosixSerialDevice() override { close(); }

    DeviceResult open(const char* path) noexcept override;
    void close() noexcept override;
    bool isOpen() const noexcept override { return fd_ >= 0; }

    DeviceResult saveSettings() noexcept override;
    DeviceResult restoreSettings() noexcept override;
    DeviceResult applyLineSettings(const LineSettings& settings) noexcept override;

    DeviceResult readByte(std::uint8_t& byte, std::uint32_t timeoutUs) noexcept override;
    DeviceResult write(const std::uint8_t* data, int length,
                       std::uint32_t timeoutMs) noexcept override;
    DeviceResult drain() noexcept override;
    DeviceResult purge() noexcept override;
    DeviceResult setRts(bool asserted) noexcept override;

    // Size of the kernel's termios2 record kept as the saved settings; the
    // record itself stays out of this header because <asm/termbits.h>
    // clashes with <termios.h> in files that include both.
    static constexpr std::size_t kSettingsRecordSize = 64;
    static constexpr std::size_t kReceiveBufferSize = 256;

private:
    DeviceResult fillReceiveBuffer(std::uint32_t timeoutUs) noexcept;

    int fd_ = -1;
    bool settingsSaved_ = false;
    alignas(8) unsigned char savedSettings_[kSettingsRecordSize] = {};
    std::uint8_t received_[kReceiveBufferSize] = {};
    std::size_t receivedStart_ = 0;
    std::size_t receivedEnd_ = 0;
};

}  // namespace mbslave::platform

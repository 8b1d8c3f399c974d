// SerialDevice on the system's serial driver: exclusive open, raw line
// settings, byte reads from a small receive buffer and writes against a
// deadline. One declaration for every system; serial_device_posix.cpp
// (termios) and serial_device_windows.cpp (Win32 comm API) implement it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/serial_device.hpp"

namespace mbslave::platform {

class SystemSerialDevice final : public SerialDevice {
public:
    SystemSerialDevice() noexcept = default;
    ~SystemSerialDevice() override { close(); }

    DeviceResult open(const char* path) noexcept override;
    void close() noexcept override;
    bool isOpen() const noexcept override { return handle_ != kNoHandle; }

    DeviceResult saveSettings() noexcept override;
    DeviceResult restoreSettings() noexcept override;
    DeviceResult applyLineSettings(const LineSettings& settings) noexcept override;

    // Hands out received bytes one by one; an empty buffer is filled first.
    DeviceResult readByte(std::uint8_t& byte, std::uint32_t timeoutUs) noexcept override {
        if (receivedStart_ == receivedEnd_) {
            const DeviceResult result = fillReceiveBuffer(timeoutUs);
            if (result != DeviceResult::ok) return result;
        }
        byte = received_[receivedStart_++];
        return DeviceResult::ok;
    }
    DeviceResult write(const std::uint8_t* data, int length,
                       std::uint32_t timeoutMs) noexcept override;
    DeviceResult drain(std::uint32_t timeoutMs) noexcept override;
    DeviceResult purge() noexcept override;
    DeviceResult setRts(bool asserted) noexcept override;
    bool driverSwitchesRts() const noexcept override { return driverSwitchesRts_; }

    // Room for the system's own settings record (termios2, DCB) kept as the
    // saved settings; the record type stays out of this header so that no
    // system header leaks into the library.
    static constexpr std::size_t kSettingsRecordSize = 64;
    static constexpr std::size_t kReceiveBufferSize = 256;

private:
    // The system's descriptor or handle; both fit a pointer-sized integer,
    // and both systems use -1 for "none".
    static constexpr std::intptr_t kNoHandle = -1;

    DeviceResult fillReceiveBuffer(std::uint32_t timeoutUs) noexcept;

    // What the Windows implementation keeps per open device besides its
    // handle; the POSIX one needs none of it.
    struct CommExtras {
        std::intptr_t transferEvent = kNoHandle;  // overlapped transfers and waits complete on it
        bool rtsCleared = false;  // RTS held low: restoring the saved settings keeps it low
        bool timerRaised = false;  // the system timer's 1 ms resolution asked for at open
    };

    std::intptr_t handle_ = kNoHandle;
    CommExtras comm_;
    bool settingsSaved_ = false;
    bool driverSwitchesRts_ = false;  // found at open
    alignas(8) unsigned char savedSettings_[kSettingsRecordSize] = {};
    std::uint8_t received_[kReceiveBufferSize] = {};
    std::size_t receivedStart_ = 0;
    std::size_t receivedEnd_ = 0;
};

}  // namespace mbslave::platform

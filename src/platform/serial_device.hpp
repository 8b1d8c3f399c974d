// The serial line as the operating system offers it: one device per
// instance, opened exclusively, with raw line settings, byte reads with a
// microsecond time-out and writes with a millisecond deadline. SerialPort
// works only through this interface, so tests and fuzzers can put a fake
// device behind a protocol object.
#pragma once

#include <cstdint>

#include "base/heap_object.hpp"

namespace mbslave::platform {

enum class DeviceResult {
    ok,
    noSuchDevice,  // the name names no device
    busy,          // another holder has the device
    noPermission,  // this user may not open the device (on Linux: not in group dialout)
    ioError,       // a system call failed, or the device went away
    timeout,       // nothing (or not everything) transferred in time
    refused,       // the device does not take the line settings
};

enum class Parity { none, odd, even };

enum class FlowControl {
    none,       // RTS is driven by the caller
    rtsCts,     // hardware handshake
    rtsToggle,  // the driver switches RTS around each transmission
};

struct LineSettings {
    std::int32_t baudRate;
    int dataBits;  // 7 or 8
    int stopBits;  // 1 or 2
    Parity parity;
    FlowControl flowControl;
};

class SerialDevice : public HeapObject {
public:
    SerialDevice() = default;
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;
    virtual ~SerialDevice() = default;

    // Opens the device at path for exclusive use.
    virtual DeviceResult open(const char* path) noexcept = 0;
    // Gives the device up; nothing happens when it is not open.
    virtual void close() noexcept = 0;
    virtual bool isOpen() const noexcept = 0;

    // Remembers the device's current line settings / puts them back.
    virtual DeviceResult saveSettings() noexcept = 0;
    virtual DeviceResult restoreSettings() noexcept = 0;
    // Applies raw mode with the given settings. A setting the device does not
    // take is `refused`, and the device keeps its previous settings.
    virtual DeviceResult applyLineSettings(const LineSettings& settings) noexcept = 0;

    // One byte within timeoutUs microseconds; 0 waits without limit.
    virtual DeviceResult readByte(std::uint8_t& byte, std::uint32_t timeoutUs) noexcept = 0;
    // All length bytes within timeoutMs milliseconds (0: no limit); a
    // partial write is `timeout`.
    virtual DeviceResult write(const std::uint8_t* data, int length,
                               std::uint32_t timeoutMs) noexcept = 0;
    // Returns once every written byte has left the transmitter, or
    // `timeout` when that takes longer than timeoutMs milliseconds (0: no
    // limit), e.g. on a transmitter held off by flow control.
    virtual DeviceResult drain(std::uint32_t timeoutMs) noexcept = 0;
    // Discards queued input and output, received bytes not yet read included.
    virtual DeviceResult purge() noexcept = 0;
    virtual DeviceResult setRts(bool asserted) noexcept = 0;
    // Whether the driver itself switches RTS around each transmission (the
    // kernel's RS-485 mode, set up with the device); RTS set from here would
    // fight it.
    virtual bool driverSwitchesRts() const noexcept { return false; }
};

}  // namespace mbslave::platform

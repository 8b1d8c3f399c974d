#include "platform/system_serial_device.hpp"

#include <windows.h>

#include <cstring>

namespace mbslave::platform {
namespace {

static_assert(sizeof(DCB) <= SystemSerialDevice::kSettingsRecordSize,
              "the saved settings record holds a DCB");

// Longest device name taken, in UTF-16 units with the terminator.
constexpr int kMaxDeviceNameUnits = 512;

HANDLE toHandle(std::intptr_t handle) noexcept { return reinterpret_cast<HANDLE>(handle); }

DeviceResult openFailure(DWORD error) noexcept {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND: return DeviceResult::noSuchDevice;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION: return DeviceResult::busy;
        default: return DeviceResult::ioError;
    }
}

// The five time-outs in milliseconds; all zero means no time-out at all.
bool applyTimeouts(HANDLE device, DWORD readTotal, DWORD writeTotal) noexcept {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadTotalTimeoutConstant = readTotal;
    timeouts.WriteTotalTimeoutConstant = writeTotal;
    return SetCommTimeouts(device, &timeouts) != 0;
}

void setFormat(DCB& dcb, const LineSettings& line) noexcept {
    dcb.BaudRate = static_cast<DWORD>(line.baudRate);
    dcb.ByteSize = static_cast<BYTE>(line.dataBits);
    dcb.StopBits = line.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    switch (line.parity) {
        case Parity::none: dcb.Parity = NOPARITY; dcb.fParity = FALSE; break;
        case Parity::odd: dcb.Parity = ODDPARITY; dcb.fParity = TRUE; break;
        case Parity::even: dcb.Parity = EVENPARITY; dcb.fParity = TRUE; break;
    }
}

// Handshake fields; DTR is held on in every mode, and without handshake RTS
// starts low and is left to setRts.
void setFlowControl(DCB& dcb, FlowControl flow) noexcept {
    dcb.fOutxCtsFlow = flow == FlowControl::rtsCts ? TRUE : FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    switch (flow) {
        case FlowControl::none: dcb.fRtsControl = RTS_CONTROL_DISABLE; break;
        case FlowControl::rtsCts: dcb.fRtsControl = RTS_CONTROL_HANDSHAKE; break;
        case FlowControl::rtsToggle: dcb.fRtsControl = RTS_CONTROL_TOGGLE; break;
    }
    dcb.fBinary = TRUE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
}

}  // namespace

DeviceResult SystemSerialDevice::open(const char* path) noexcept {
    close();
    wchar_t name[kMaxDeviceNameUnits];
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, name, kMaxDeviceNameUnits) == 0) {
        return DeviceResult::noSuchDevice;
    }
    // Share mode 0: nobody else opens the device while it is held here.
    const HANDLE device = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) return openFailure(GetLastError());
    handle_ = reinterpret_cast<std::intptr_t>(device);
    settingsSaved_ = false;
    return DeviceResult::ok;
}

void SystemSerialDevice::close() noexcept {
    if (handle_ == kNoHandle) return;
    CloseHandle(toHandle(handle_));
    handle_ = kNoHandle;
    settingsSaved_ = false;
}

DeviceResult SystemSerialDevice::saveSettings() noexcept {
    DCB current{};
    current.DCBlength = sizeof current;
    if (GetCommState(toHandle(handle_), &current) == 0) return DeviceResult::ioError;
    std::memcpy(savedSettings_, &current, sizeof current);
    settingsSaved_ = true;
    return DeviceResult::ok;
}

DeviceResult SystemSerialDevice::restoreSettings() noexcept {
    if (!settingsSaved_) return DeviceResult::ioError;
    DCB saved{};
    std::memcpy(&saved, savedSettings_, sizeof saved);
    return SetCommState(toHandle(handle_), &saved) != 0 ? DeviceResult::ok : DeviceResult::ioError;
}

DeviceResult SystemSerialDevice::applyLineSettings(const LineSettings& line) noexcept {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (GetCommState(toHandle(handle_), &dcb) == 0) return DeviceResult::ioError;
    // Every field not set here (XON/XOFF limits and characters, error, end
    // and event characters) keeps the device's value.
    setFormat(dcb, line);
    setFlowControl(dcb, line.flowControl);
    // A device that does not run a setting refuses the whole record and
    // keeps its previous settings.
    return SetCommState(toHandle(handle_), &dcb) != 0 ? DeviceResult::ok : DeviceResult::refused;
}

DeviceResult SystemSerialDevice::readByte(std::uint8_t& byte, std::uint32_t timeoutUs) noexcept {
    // Windows applies time-outs in whole milliseconds: rounded up, so that a
    // wait is never shorter than asked for.
    const DWORD timeoutMs = timeoutUs / 1000u + (timeoutUs % 1000u != 0 ? 1u : 0u);
    const HANDLE device = toHandle(handle_);
    if (!applyTimeouts(device, timeoutMs, 0)) return DeviceResult::ioError;
    DWORD count = 0;
    if (ReadFile(device, &byte, 1, &count, nullptr) == 0) return DeviceResult::ioError;
    return count == 1 ? DeviceResult::ok : DeviceResult::timeout;
}

DeviceResult SystemSerialDevice::write(const std::uint8_t* data, int length,
                                       std::uint32_t timeoutMs) noexcept {
    const HANDLE device = toHandle(handle_);
    if (!applyTimeouts(device, 0, timeoutMs)) return DeviceResult::ioError;
    DWORD count = 0;
    if (WriteFile(device, data, static_cast<DWORD>(length), &count, nullptr) == 0) {
        return DeviceResult::ioError;
    }
    return count == static_cast<DWORD>(length) ? DeviceResult::ok : DeviceResult::timeout;
}

// FlushFileBuffers has no time limit of its own, and a transmitter that
// never empties (held off by CTS, a wedged adapter) would hold the caller
// forever. So the output queue is watched against the deadline first;
// FlushFileBuffers then waits only for the characters already in the UART.
DeviceResult SystemSerialDevice::drain(std::uint32_t timeoutMs) noexcept {
    const HANDLE device = toHandle(handle_);
    const DWORD started = GetTickCount();
    for (;;) {
        COMSTAT status{};
        if (ClearCommError(device, nullptr, &status) == 0) return DeviceResult::ioError;
        if (status.cbOutQue == 0) break;
        if (timeoutMs != 0 && GetTickCount() - started >= timeoutMs) return DeviceResult::timeout;
        Sleep(1);
    }
    return FlushFileBuffers(device) != 0 ? DeviceResult::ok : DeviceResult::ioError;
}

DeviceResult SystemSerialDevice::purge() noexcept {
    const BOOL purged = PurgeComm(toHandle(handle_), PURGE_TXCLEAR | PURGE_RXCLEAR);
    return purged != 0 ? DeviceResult::ok : DeviceResult::ioError;
}

DeviceResult SystemSerialDevice::setRts(bool asserted) noexcept {
    const BOOL done = EscapeCommFunction(toHandle(handle_), asserted ? SETRTS : CLRRTS);
    return done != 0 ? DeviceResult::ok : DeviceResult::ioError;
}

}  // namespace mbslave::platform

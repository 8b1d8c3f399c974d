#include "platform/system_serial_device.hpp"

#include <windows.h>
#include <timeapi.h>

#include <cstring>

namespace mbslave::platform {
namespace {

// What a port had at open and gets back at close: serial.sys keeps a
// port's DCB and time-outs for the next program that opens it.
struct SavedSettings {
    DCB line;
    COMMTIMEOUTS timeouts;
};
static_assert(sizeof(SavedSettings) <= SystemSerialDevice::kSettingsRecordSize,
              "the saved settings record holds a DCB and the time-outs");

// Timer resolution asked for while a port is open: read time-outs and
// Sleep run on the system timer, whose default 15.6 ms tick would stretch
// silences of a few ms (frame ends, turnaround) to 16 ms.
constexpr UINT kTimerResolutionMs = 1;

// Longest device name taken, in UTF-16 units with the terminator.
constexpr int kMaxDeviceNameUnits = 512;

// Characters the UART's transmit FIFO holds (a 16550's 16, serial.sys's
// default TxFIFO) after the driver's queue has emptied.
constexpr DWORD kTransmitFifoCharacters = 16;

HANDLE toHandle(std::intptr_t handle) noexcept { return reinterpret_cast<HANDLE>(handle); }

DWORD millisecondsFor(DWORD microseconds) noexcept { return (microseconds + 999u) / 1000u; }

// Microseconds one character of the device's current format takes on the
// line: start bit, data bits, parity bit and stop bits (1.5 counted as 2).
DWORD characterTimeUs(const DCB& dcb) noexcept {
    const DWORD bits = 1u + dcb.ByteSize + (dcb.Parity != NOPARITY ? 1u : 0u) +
                       (dcb.StopBits == ONESTOPBIT ? 1u : 2u);
    const DWORD rate = dcb.BaudRate > 0 ? dcb.BaudRate : 1u;
    return (bits * 1000000u + rate - 1u) / rate;
}

// The handle is open for overlapped I/O, the only way to bound a wait for
// a comm event in time. Every transfer is waited for at once; COMMTIMEOUTS
// bound reads and writes as they do synchronous ones.

// An operation that completes on `event`, reset here: not every driver
// resets it when the operation starts (wine's WaitCommEvent does not).
OVERLAPPED operationOn(std::intptr_t event) noexcept {
    OVERLAPPED operation{};
    operation.hEvent = toHandle(event);
    ResetEvent(operation.hEvent);
    return operation;
}

// The result of a finished operation: serial.sys completes a transfer cut
// by its time-out as a success with the bytes moved so far, wine as a
// failure with ERROR_TIMEOUT; both are the count, not an I/O error.
DeviceResult completion(BOOL finished) noexcept {
    return finished != 0 || GetLastError() == ERROR_TIMEOUT ? DeviceResult::ok : DeviceResult::ioError;
}

// Waits for an operation; `started` is the result of the call that started
// it.
DeviceResult finish(HANDLE device, OVERLAPPED& operation, BOOL started, DWORD& count) noexcept {
    if (started == 0 && GetLastError() != ERROR_IO_PENDING) return DeviceResult::ioError;
    return completion(GetOverlappedResult(device, &operation, &count, TRUE));
}

// finish for a read without time-out, which also ends when a user APC is
// queued to the waiting thread (QueueUserAPC): the read is cancelled and
// ends as a time-out would, so that a server loop waiting without limit
// gets back to its application, as a signal lets it on POSIX. A byte that
// came meanwhile is kept.
DeviceResult finishInterruptible(HANDLE device, OVERLAPPED& operation, BOOL started, DWORD& count) noexcept {
    if (started == 0) {
        if (GetLastError() != ERROR_IO_PENDING) return DeviceResult::ioError;
        if (WaitForSingleObjectEx(operation.hEvent, INFINITE, TRUE) == WAIT_IO_COMPLETION) {
            CancelIoEx(device, &operation);
        }
    }
    const BOOL finished = GetOverlappedResult(device, &operation, &count, TRUE);
    if (finished == 0 && GetLastError() == ERROR_OPERATION_ABORTED) return DeviceResult::timeout;
    return completion(finished);
}

// Waits at most waitMs for an event of `mask` (the device's event mask).
// None in time: the pending wait is ended by setting the mask again, which
// Windows documents as completing it at once.
DeviceResult waitForCommEvent(HANDLE device, std::intptr_t event, DWORD mask, DWORD waitMs) noexcept {
    OVERLAPPED operation = operationOn(event);
    DWORD events = 0;
    DWORD count = 0;
    if (WaitCommEvent(device, &events, &operation) == 0) {
        if (GetLastError() != ERROR_IO_PENDING) return DeviceResult::ioError;
        if (WaitForSingleObject(operation.hEvent, waitMs) != WAIT_OBJECT_0) {
            SetCommMask(device, mask);
            GetOverlappedResult(device, &operation, &count, TRUE);
            return DeviceResult::timeout;
        }
        if (GetOverlappedResult(device, &operation, &count, TRUE) == 0) return DeviceResult::ioError;
    }
    return (events & mask) != 0 ? DeviceResult::ok : DeviceResult::timeout;
}

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

// Whether the driver runs the format and handshake asked for: a driver may
// take a record and run something else (a rate rounded to its clock).
bool runsAsAsked(const DCB& asked, const DCB& running) noexcept {
    return running.BaudRate == asked.BaudRate && running.ByteSize == asked.ByteSize &&
           running.Parity == asked.Parity && running.StopBits == asked.StopBits &&
           running.fOutxCtsFlow == asked.fOutxCtsFlow;
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
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (device == INVALID_HANDLE_VALUE) return openFailure(GetLastError());
    // Manual reset, as overlapped operations need it.
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) {
        CloseHandle(device);
        return DeviceResult::ioError;
    }
    handle_ = reinterpret_cast<std::intptr_t>(device);
    comm_.transferEvent = reinterpret_cast<std::intptr_t>(event);
    comm_.rtsCleared = false;
    comm_.timerRaised = timeBeginPeriod(kTimerResolutionMs) == TIMERR_NOERROR;
    receivedStart_ = receivedEnd_ = 0;
    settingsSaved_ = false;
    return DeviceResult::ok;
}

void SystemSerialDevice::close() noexcept {
    if (handle_ == kNoHandle) return;
    CloseHandle(toHandle(handle_));
    CloseHandle(toHandle(comm_.transferEvent));
    if (comm_.timerRaised) timeEndPeriod(kTimerResolutionMs);
    handle_ = kNoHandle;
    comm_.transferEvent = kNoHandle;
    comm_.timerRaised = false;
    settingsSaved_ = false;
}

DeviceResult SystemSerialDevice::saveSettings() noexcept {
    SavedSettings current{};
    current.line.DCBlength = sizeof current.line;
    if (GetCommState(toHandle(handle_), &current.line) == 0) return DeviceResult::ioError;
    if (GetCommTimeouts(toHandle(handle_), &current.timeouts) == 0) return DeviceResult::ioError;
    std::memcpy(savedSettings_, &current, sizeof current);
    settingsSaved_ = true;
    return DeviceResult::ok;
}

DeviceResult SystemSerialDevice::restoreSettings() noexcept {
    if (!settingsSaved_) return DeviceResult::ioError;
    SavedSettings saved{};
    std::memcpy(&saved, savedSettings_, sizeof saved);
    // A saved mode that drives RTS (on, or the receive handshake) would
    // switch an RS-485 transmitter on and leave it driving the bus: RTS held
    // low stays low.
    const DWORD rtsMode = saved.line.fRtsControl;
    if (comm_.rtsCleared && (rtsMode == RTS_CONTROL_ENABLE || rtsMode == RTS_CONTROL_HANDSHAKE)) {
        saved.line.fRtsControl = RTS_CONTROL_DISABLE;
    }
    const HANDLE device = toHandle(handle_);
    const bool timeoutsRestored = SetCommTimeouts(device, &saved.timeouts) != 0;
    const bool lineRestored = SetCommState(device, &saved.line) != 0;
    return timeoutsRestored && lineRestored ? DeviceResult::ok : DeviceResult::ioError;
}

DeviceResult SystemSerialDevice::applyLineSettings(const LineSettings& line) noexcept {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    const HANDLE device = toHandle(handle_);
    if (GetCommState(device, &dcb) == 0) return DeviceResult::ioError;
    const DCB previous = dcb;
    // Every field not set here (XON/XOFF limits and characters, error, end
    // and event characters) keeps the device's value.
    setFormat(dcb, line);
    setFlowControl(dcb, line.flowControl);
    // A device that does not run a setting refuses the whole record and
    // keeps its previous settings; one that takes the record but runs
    // something else gets its previous settings back.
    if (SetCommState(device, &dcb) == 0) return DeviceResult::refused;
    DCB running{};
    running.DCBlength = sizeof running;
    if (GetCommState(device, &running) == 0) return DeviceResult::ioError;
    if (!runsAsAsked(dcb, running)) {
        DCB restored = previous;
        SetCommState(device, &restored);
        return DeviceResult::refused;
    }
    // The driver's toggle keeps RTS low between transmissions.
    if (line.flowControl != FlowControl::none) comm_.rtsCleared = line.flowControl == FlowControl::rtsToggle;
    return DeviceResult::ok;
}

// What the driver already holds comes in one read, up to the buffer's
// size; with nothing there the read waits for one byte within the time-out.
DeviceResult SystemSerialDevice::fillReceiveBuffer(std::uint32_t timeoutUs) noexcept {
    // Windows applies time-outs in whole milliseconds: rounded up, so that a
    // wait is never shorter than asked for.
    const DWORD timeoutMs = timeoutUs / 1000u + (timeoutUs % 1000u != 0 ? 1u : 0u);
    const HANDLE device = toHandle(handle_);
    COMSTAT status{};
    if (ClearCommError(device, nullptr, &status) == 0) return DeviceResult::ioError;
    const DWORD wanted = status.cbInQue == 0 ? 1u
                         : status.cbInQue < sizeof received_ ? status.cbInQue
                                                             : static_cast<DWORD>(sizeof received_);
    if (!applyTimeouts(device, timeoutMs, 0)) return DeviceResult::ioError;
    OVERLAPPED operation = operationOn(comm_.transferEvent);
    DWORD count = 0;
    const BOOL started = ReadFile(device, received_, wanted, nullptr, &operation);
    const DeviceResult read = timeoutMs == 0 ? finishInterruptible(device, operation, started, count)
                                             : finish(device, operation, started, count);
    if (read != DeviceResult::ok) return read;
    if (count == 0) return DeviceResult::timeout;
    receivedStart_ = 0;
    receivedEnd_ = count;
    return DeviceResult::ok;
}

DeviceResult SystemSerialDevice::write(const std::uint8_t* data, int length,
                                       std::uint32_t timeoutMs) noexcept {
    const HANDLE device = toHandle(handle_);
    if (!applyTimeouts(device, 0, timeoutMs)) return DeviceResult::ioError;
    // Setting the mask clears the events seen so far: the drain after this
    // write waits for the transmitter to empty of this write's bytes.
    if (SetCommMask(device, EV_TXEMPTY) == 0) return DeviceResult::ioError;
    OVERLAPPED operation = operationOn(comm_.transferEvent);
    DWORD count = 0;
    const BOOL started = WriteFile(device, data, static_cast<DWORD>(length), nullptr, &operation);
    if (finish(device, operation, started, count) != DeviceResult::ok) return DeviceResult::ioError;
    return count == static_cast<DWORD>(length) ? DeviceResult::ok : DeviceResult::timeout;
}

// FlushFileBuffers has no time limit of its own, and a transmitter that
// never empties (held off by CTS, a wedged adapter) would hold the caller
// forever. So the output queue is watched against the deadline first.
// serial.sys empties its queue (and completes writes and FlushFileBuffers)
// once the last bytes are in the UART's transmit FIFO, up to 16 characters
// before they have left the line; its EV_TXEMPTY comes when the FIFO has
// emptied (kept since the write set the mask, so an earlier one is not
// missed), and one character time later the shift register has sent the
// last stop bit. A driver without that event, or without its history
// (wine), has the FIFO's own time bound the wait.
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
    if (FlushFileBuffers(device) == 0) return DeviceResult::ioError;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (GetCommState(device, &dcb) == 0) return DeviceResult::ioError;
    const DWORD characterUs = characterTimeUs(dcb);
    const DWORD fifoMs = millisecondsFor((kTransmitFifoCharacters + 1u) * characterUs) + 1u;
    const DeviceResult emptied =
        waitForCommEvent(device, comm_.transferEvent, EV_TXEMPTY, fifoMs);
    if (emptied == DeviceResult::ioError) return DeviceResult::ioError;
    if (emptied == DeviceResult::ok) Sleep(millisecondsFor(characterUs));
    return DeviceResult::ok;
}

DeviceResult SystemSerialDevice::purge() noexcept {
    receivedStart_ = receivedEnd_ = 0;
    const BOOL purged = PurgeComm(toHandle(handle_), PURGE_TXCLEAR | PURGE_RXCLEAR);
    return purged != 0 ? DeviceResult::ok : DeviceResult::ioError;
}

DeviceResult SystemSerialDevice::setRts(bool asserted) noexcept {
    const BOOL done = EscapeCommFunction(toHandle(handle_), asserted ? SETRTS : CLRRTS);
    if (done == 0) return DeviceResult::ioError;
    comm_.rtsCleared = !asserted;
    return DeviceResult::ok;
}

}  // namespace mbslave::platform

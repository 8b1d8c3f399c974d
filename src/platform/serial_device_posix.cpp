#include "platform/system_serial_device.hpp"
#include "platform/termios_modes_posix.hpp"

// The kernel's termios2 interface (arbitrary baud rates through BOTHER). It
// replaces <termios.h>, whose struct termios has the same name.
#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace mbslave::platform {
namespace {

static_assert(sizeof(termios2) <= SystemSerialDevice::kSettingsRecordSize,
              "saved settings record too small for termios2");
static_assert(alignof(termios2) <= 8, "saved settings record under-aligned");

struct StandardRate {
    std::int32_t rate;
    unsigned code;
};

// The rates with their own Bnnn code; every other rate goes through BOTHER.
constexpr StandardRate kStandardRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

unsigned baudCode(std::int32_t rate) noexcept {
    for (const StandardRate& standard : kStandardRates) {
        if (standard.rate == rate) return standard.code;
    }
    return BOTHER;
}

// The output rate a termios2 record carries. Kernels fill c_ospeed for Bnnn
// codes too; the table covers those that leave it 0.
std::int64_t outputRate(const termios2& settings) noexcept {
    if (settings.c_ospeed != 0) return settings.c_ospeed;
    const unsigned code = settings.c_cflag & CBAUD;
    for (const StandardRate& standard : kStandardRates) {
        if (standard.code == code) return standard.rate;
    }
    return 0;
}

// A driver may set the nearest rate its clock divider reaches; like the
// kernel's own matching of Bnnn codes, up to 2 % off counts as taken.
bool rateMatches(std::int64_t actual, std::int64_t wanted) noexcept {
    return std::llabs(actual - wanted) * 50 <= wanted;
}

void setRate(termios2& settings, std::int32_t rate) noexcept {
    const unsigned code = baudCode(rate);
    settings.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    settings.c_cflag |= code | (code << IBSHIFT);
    settings.c_ispeed = static_cast<speed_t>(rate);
    settings.c_ospeed = static_cast<speed_t>(rate);
}

// Whether the device took what was asked: the format bits and the rate.
bool settingsTaken(const termios2& applied, const termios2& wanted) noexcept {
    constexpr tcflag_t kFormatBits = CSIZE | CSTOPB | PARENB | PARODD | CRTSCTS | CLOCAL | CREAD;
    if ((applied.c_cflag & kFormatBits) != (wanted.c_cflag & kFormatBits)) return false;
    if ((applied.c_cflag & CBAUD) == B0) return false;
    return rateMatches(outputRate(applied), wanted.c_ospeed);
}

// Systems without termios2 (older kernels, user-mode emulators) report
// these; the classic interface then carries every rate that has a Bnnn code.
bool lacksTermios2(int error) noexcept {
    return error == ENOSYS || error == EINVAL || error == ENOTTY;
}

// What termios and termios2 have in common: everything but the rates.
template <typename From, typename To>
void copyFlagsAndCharacters(const From& from, To& to) noexcept {
    static_assert(sizeof from.c_cc == sizeof to.c_cc, "control characters differ");
    to.c_iflag = from.c_iflag;
    to.c_oflag = from.c_oflag;
    to.c_cflag = from.c_cflag;
    to.c_lflag = from.c_lflag;
    to.c_line = from.c_line;
    std::memcpy(to.c_cc, from.c_cc, sizeof to.c_cc);
}

bool readSettings(int fd, termios2& settings) noexcept {
    if (ioctl(fd, TCGETS2, &settings) == 0) return true;
    if (!lacksTermios2(errno)) return false;
    termios classic{};
    if (ioctl(fd, TCGETS, &classic) != 0) return false;
    settings = termios2{};
    copyFlagsAndCharacters(classic, settings);
    settings.c_ospeed = static_cast<speed_t>(outputRate(settings));
    settings.c_ispeed = settings.c_ospeed;
    return true;
}

bool writeSettings(int fd, const termios2& settings) noexcept {
    if (ioctl(fd, TCSETS2, &settings) == 0) return true;
    if (!lacksTermios2(errno)) return false;
    if ((settings.c_cflag & CBAUD) == BOTHER) return false;  // needs termios2
    termios classic{};
    copyFlagsAndCharacters(settings, classic);
    return ioctl(fd, TCSETS, &classic) == 0;
}

DeviceResult openFailure(int error) noexcept {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return DeviceResult::noSuchDevice;
        case EBUSY:
        case EWOULDBLOCK:
            return DeviceResult::busy;
        // Permissions on the device node, never a sign of another holder.
        case EACCES:
        case EPERM:
            return DeviceResult::noPermission;
        default:
            return DeviceResult::ioError;
    }
}

std::int64_t monotonicNs() noexcept {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

timespec toTimespec(std::int64_t nanoseconds) noexcept {
    return timespec{static_cast<time_t>(nanoseconds / 1000000000),
                    static_cast<long>(nanoseconds % 1000000000)};
}

// Another holder set exclusive mode without taking the lock. Root opens such
// a device anyway, so the open itself does not tell.
bool heldExclusively(int fd) noexcept {
    int exclusive = 0;
    return ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
}

// The driver runs the kernel's RS-485 mode and switches RTS itself.
bool kernelRs485Enabled(int fd) noexcept {
    serial_rs485 rs485{};
    return ioctl(fd, TIOCGRS485, &rs485) == 0 && (rs485.flags & SER_RS485_ENABLED) != 0;
}

constexpr std::int64_t kDrainPollNs = 1000000;

}  // namespace

static_assert(sizeof(tcflag_t) == sizeof(std::uint32_t), "termios mode words are 32 bits");

TermiosModes rawLineModes(const TermiosModes& current, const LineSettings& line) noexcept {
    TermiosModes modes = current;
    // Raw mode as cfmakeraw makes it, with the receiver on and modem status
    // lines ignored; no software flow control, no input or output processing.
    modes.input &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                          IXON | IXOFF | IXANY | INPCK | IGNPAR);
    modes.output &= ~static_cast<tcflag_t>(OPOST);
    modes.local &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    modes.control &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
    modes.control |= CLOCAL | CREAD;
    modes.control |= line.dataBits == 7 ? CS7 : CS8;
    if (line.stopBits == 2) modes.control |= CSTOPB;
    if (line.parity != Parity::none) {
        modes.control |= PARENB;
        // Received characters are checked too: one with a parity error
        // arrives as NUL, which breaks its frame's check instead of passing.
        modes.input |= INPCK;
    }
    if (line.parity == Parity::odd) modes.control |= PARODD;
    // RTS toggling around transmissions is the driver's RS-485 mode, set up
    // with the device; termios only knows the RTS/CTS handshake.
    if (line.flowControl == FlowControl::rtsCts) modes.control |= CRTSCTS;
    return modes;
}

DeviceResult SystemSerialDevice::open(const char* path) noexcept {
    close();
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return openFailure(errno);
    // The lock decides who holds the device (also among root processes,
    // whom TIOCEXCL does not stop); exclusive mode is set only once the lock
    // is ours, so a refused open leaves the holder's mode alone.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        return openFailure(error);
    }
    if (heldExclusively(fd)) {
        flock(fd, LOCK_UN);
        ::close(fd);
        return DeviceResult::busy;
    }
    if (ioctl(fd, TIOCEXCL) != 0) {  // ENOTTY: not a terminal
        flock(fd, LOCK_UN);
        ::close(fd);
        return DeviceResult::ioError;
    }
    handle_ = fd;
    settingsSaved_ = false;
    driverSwitchesRts_ = kernelRs485Enabled(fd);
    receivedStart_ = receivedEnd_ = 0;
    return DeviceResult::ok;
}

void SystemSerialDevice::close() noexcept {
    if (handle_ < 0) return;
    // Exclusive mode and lock go first, so that the device is free the
    // moment the descriptor is gone.
    ioctl(handle_, TIOCNXCL);
    flock(handle_, LOCK_UN);
    ::close(handle_);
    handle_ = -1;
    settingsSaved_ = false;
    driverSwitchesRts_ = false;
    receivedStart_ = receivedEnd_ = 0;
}

DeviceResult SystemSerialDevice::saveSettings() noexcept {
    termios2 current{};
    if (!readSettings(handle_, current)) return DeviceResult::ioError;
    std::memcpy(savedSettings_, &current, sizeof current);
    settingsSaved_ = true;
    return DeviceResult::ok;
}

DeviceResult SystemSerialDevice::restoreSettings() noexcept {
    if (!settingsSaved_) return DeviceResult::ioError;
    termios2 saved{};
    std::memcpy(&saved, savedSettings_, sizeof saved);
    return writeSettings(handle_, saved) ? DeviceResult::ok : DeviceResult::ioError;
}

DeviceResult SystemSerialDevice::applyLineSettings(const LineSettings& line) noexcept {
    termios2 previous{};
    if (!readSettings(handle_, previous)) return DeviceResult::ioError;
    // 0 would hang the line up, and no line runs at a negative rate.
    if (line.baudRate <= 0) return DeviceResult::refused;

    termios2 wanted = previous;
    const TermiosModes modes = rawLineModes(
        TermiosModes{previous.c_iflag, previous.c_oflag, previous.c_cflag, previous.c_lflag}, line);
    wanted.c_iflag = modes.input;
    wanted.c_oflag = modes.output;
    wanted.c_cflag = modes.control;
    wanted.c_lflag = modes.local;
    wanted.c_cc[VMIN] = 1;
    wanted.c_cc[VTIME] = 0;
    setRate(wanted, line.baudRate);
    if (!writeSettings(handle_, wanted)) return DeviceResult::refused;

    // A driver takes what it can and reports success; only the read-back
    // tells whether it took everything. If not, the old settings go back.
    termios2 applied{};
    if (!readSettings(handle_, applied) || !settingsTaken(applied, wanted)) {
        writeSettings(handle_, previous);
        return DeviceResult::refused;
    }
    return DeviceResult::ok;
}

DeviceResult SystemSerialDevice::fillReceiveBuffer(std::uint32_t timeoutUs) noexcept {
    bool unlimited = timeoutUs == 0;
    std::int64_t deadline = monotonicNs() + static_cast<std::int64_t>(timeoutUs) * 1000;
    // Past the deadline the device still gets one look without waiting: a
    // byte that came during a stall or a signal must not be reported as
    // silence, which would split its frame.
    bool lastLook = false;
    for (;;) {
        timespec wait{};
        if (!unlimited) {
            const std::int64_t left = deadline - monotonicNs();
            if (left > 0) {
                wait = toTimespec(left);
            } else {
                lastLook = true;
            }
        }
        pollfd device{static_cast<int>(handle_), POLLIN, 0};
        const int ready = ppoll(&device, 1, unlimited ? nullptr : &wait, nullptr);
        if (ready < 0) {
            if (errno != EINTR) return DeviceResult::ioError;
            // A signal ends the read as its time-out would, so that a server
            // loop waiting without limit gets back to its application.
            if (lastLook) return DeviceResult::timeout;
            unlimited = false;
            deadline = 0;
            continue;
        }
        if (ready == 0) return DeviceResult::timeout;
        if ((device.revents & POLLNVAL) != 0) return DeviceResult::ioError;

        const ssize_t count = ::read(handle_, received_, sizeof received_);
        if (count > 0) {
            receivedStart_ = 0;
            receivedEnd_ = static_cast<std::size_t>(count);
            return DeviceResult::ok;
        }
        // End of file on a tty: the device hung up.
        if (count == 0) return DeviceResult::ioError;
        const bool onlyReadable = (device.revents & (POLLHUP | POLLERR)) == 0;
        if ((errno == EAGAIN || errno == EINTR) && onlyReadable) {
            if (lastLook) return DeviceResult::timeout;
            continue;
        }
        return DeviceResult::ioError;
    }
}

DeviceResult SystemSerialDevice::write(const std::uint8_t* data, int length,
                                      std::uint32_t timeoutMs) noexcept {
    const bool unlimited = timeoutMs == 0;
    const std::int64_t deadline = monotonicNs() + static_cast<std::int64_t>(timeoutMs) * 1000000;
    int written = 0;
    while (written < length) {
        const ssize_t count = ::write(handle_, data + written, static_cast<std::size_t>(length - written));
        if (count > 0) {
            written += static_cast<int>(count);
            continue;
        }
        if (count < 0 && errno == EINTR) continue;
        if (count < 0 && errno != EAGAIN) return DeviceResult::ioError;

        // The output queue is full: wait for room until the deadline.
        int waitMs = -1;
        if (!unlimited) {
            const std::int64_t left = deadline - monotonicNs();
            if (left <= 0) return DeviceResult::timeout;
            waitMs = static_cast<int>((left + 999999) / 1000000);
        }
        pollfd device{static_cast<int>(handle_), POLLOUT, 0};
        const int ready = poll(&device, 1, waitMs);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return DeviceResult::ioError;
        }
        if (ready == 0) return DeviceResult::timeout;
        if ((device.revents & POLLOUT) == 0) return DeviceResult::ioError;
    }
    return DeviceResult::ok;
}

DeviceResult SystemSerialDevice::drain(std::uint32_t timeoutMs) noexcept {
    // tcdrain has no time limit, and a transmitter that never empties (held
    // off by a modem line, a wedged adapter) would hold the caller forever.
    // So the output queue is watched against the deadline first; tcdrain
    // then waits only for the characters already in the UART.
    const bool unlimited = timeoutMs == 0;
    const std::int64_t deadline = monotonicNs() + static_cast<std::int64_t>(timeoutMs) * 1000000;
    for (;;) {
        int queued = 0;
        if (ioctl(handle_, TIOCOUTQ, &queued) != 0) return DeviceResult::ioError;
        if (queued <= 0) break;
        std::int64_t pause = kDrainPollNs;
        if (!unlimited) {
            const std::int64_t left = deadline - monotonicNs();
            if (left <= 0) return DeviceResult::timeout;
            if (left < pause) pause = left;
        }
        const timespec wait = toTimespec(pause);
        nanosleep(&wait, nullptr);  // a signal only shortens the pause
    }
    // TCSBRK with a nonzero argument is tcdrain.
    while (ioctl(handle_, TCSBRK, 1) != 0) {
        if (errno != EINTR) return DeviceResult::ioError;
        if (!unlimited && monotonicNs() >= deadline) return DeviceResult::timeout;
    }
    return DeviceResult::ok;
}

DeviceResult SystemSerialDevice::purge() noexcept {
    receivedStart_ = receivedEnd_ = 0;
    // TCFLSH is tcflush.
    return ioctl(handle_, TCFLSH, TCIOFLUSH) == 0 ? DeviceResult::ok : DeviceResult::ioError;
}

DeviceResult SystemSerialDevice::setRts(bool asserted) noexcept {
    int rts = TIOCM_RTS;
    const int result = ioctl(handle_, asserted ? TIOCMBIS : TIOCMBIC, &rts);
    return result == 0 ? DeviceResult::ok : DeviceResult::ioError;
}

}  // namespace mbslave::platform

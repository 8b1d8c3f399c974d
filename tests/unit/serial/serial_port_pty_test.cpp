// SerialPort on pseudo-terminal pairs: the real device path of the library.
#include <gtest/gtest.h>

#include <grp.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "pty_pair.hpp"
#include "platform/termios_modes_posix.hpp"
#include "serial/serial_port.hpp"

namespace mbslave {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;
using std::chrono::steady_clock;
using test::openDescriptorCount;
using test::PtyPair;

// Generous upper bound for anything that should be prompt: a loaded CI
// machine must not make these tests fail.
constexpr auto kPrompt = milliseconds(50);

TEST(SerialPortPty, OpenAppliesRawDefaultsAndCloseRestoresTheDeviceSettings) {
    PtyPair pty;
    const test::TtySettings before = pty.slaveSettings();
    const int descriptors = openDescriptorCount();
    {
        SerialPort port;
        ASSERT_EQ(port.open(pty.slaveName()), 0);
        EXPECT_TRUE(port.isOpen());
        EXPECT_EQ(port.baudRate(), 9600);
        EXPECT_EQ(port.handshake(), HANDSHAKE_NONE);
        const test::TtySettings opened = pty.slaveSettings();
        EXPECT_EQ(opened.ospeed, B9600);
        EXPECT_EQ(opened.cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_EQ(opened.cflag & (CSTOPB | PARENB | CRTSCTS), 0u);
        EXPECT_NE(opened.cflag & CLOCAL, 0u);
        EXPECT_EQ(opened.lflag & (ICANON | ECHO | ISIG), 0u);
        EXPECT_EQ(opened.oflag & OPOST, 0u);

        ASSERT_EQ(port.configure(19200, 8, 2, PARITY_NONE, HANDSHAKE_NONE), 0);
        const test::TtySettings configured = pty.slaveSettings();
        EXPECT_EQ(configured.ospeed, B19200);
        EXPECT_EQ(configured.cflag & CSTOPB, static_cast<tcflag_t>(CSTOPB));
        ASSERT_EQ(port.configure(4800, 8, 1, PARITY_NONE, HANDSHAKE_RTS_CTS), 0);
        EXPECT_EQ(pty.slaveSettings().ospeed, B4800);
        EXPECT_EQ(pty.slaveSettings().cflag & (CSTOPB | CRTSCTS), static_cast<tcflag_t>(CRTSCTS));
        EXPECT_EQ(port.handshake(), HANDSHAKE_RTS_CTS);

        port.close();
        EXPECT_FALSE(port.isOpen());
        EXPECT_EQ(pty.slaveSettings(), before);
        port.close();  // closing a closed port does nothing
    }
    EXPECT_EQ(openDescriptorCount(), descriptors);
}

TEST(SerialPortPty, DestructorClosesAndRestores) {
    PtyPair pty;
    const test::TtySettings before = pty.slaveSettings();
    {
        SerialPort port;
        ASSERT_EQ(port.open(pty.slaveName()), 0);
        ASSERT_EQ(port.configure(115200, 8, 2, PARITY_NONE, HANDSHAKE_NONE), 0);
    }
    EXPECT_EQ(pty.slaveSettings(), before);
    SerialPort again;
    EXPECT_EQ(again.open(pty.slaveName()), 0);
}

TEST(SerialPortPty, RatesWithoutTheirOwnCodeWorkWhereTheSystemHasThem) {
    PtyPair pty;
    const bool anyRate = test::systemHasTermios2(pty.slave());
    const test::TtySettings before = pty.slaveSettings();
    SerialPort port;
    ASSERT_EQ(port.open(pty.slaveName()), 0);
    for (std::int32_t rate : {12345, 250000, 31250, 7, 115200, 50, 19200}) {
        const bool standard = rate == 115200 || rate == 50 || rate == 19200;
        const test::TtySettings previous = pty.slaveSettings();
        const std::int32_t previousRate = port.baudRate();
        const int result = port.configure(rate, 8, 1, PARITY_NONE, HANDSHAKE_NONE);
        if (anyRate || standard) {
            EXPECT_EQ(result, 0) << rate;
            EXPECT_EQ(port.baudRate(), rate);
        } else {
            EXPECT_EQ(result, MB_ERR_ILLEGAL_ARGUMENT) << rate;
            EXPECT_EQ(pty.slaveSettings(), previous) << rate;
            EXPECT_EQ(port.baudRate(), previousRate);
        }
    }
    port.configure(12345, 8, 2, PARITY_NONE, HANDSHAKE_NONE);
    port.close();
    EXPECT_EQ(pty.slaveSettings(), before);
}

TEST(SerialPortPty, OpenFailuresReportTheReasonAndLeakNothing) {
    struct Case {
        const char* name;
        int expected;
    };
    const Case cases[] = {
        {"", MB_ERR_PORT_OPEN},
        {"/dev/no-such-serial-device", MB_ERR_PORT_OPEN},
        {"/nonexistent-dir/ttyS0", MB_ERR_PORT_OPEN},
        {"/dev/null", MB_ERR_IO},  // not a terminal
        {"/proc", MB_ERR_IO},      // a directory
    };
    const int descriptors = openDescriptorCount();
    for (const Case& c : cases) {
        SerialPort port;
        EXPECT_EQ(port.open(c.name), c.expected) << c.name;
        EXPECT_FALSE(port.isOpen()) << c.name;
    }
    SerialPort port;
    EXPECT_EQ(port.open(nullptr), MB_ERR_PORT_OPEN);
    EXPECT_EQ(openDescriptorCount(), descriptors);
}

TEST(SerialPortPty, APortHeldByAnotherOpenIsBusyUntilReleased) {
    PtyPair pty;
    const int descriptors = openDescriptorCount();
    SerialPort holder;
    ASSERT_EQ(holder.open(pty.slaveName()), 0);
    const test::TtySettings held = pty.slaveSettings();

    SerialPort second;
    EXPECT_EQ(second.open(pty.slaveName()), MB_ERR_SERIAL_PORT_ALREADY_OPEN);
    EXPECT_FALSE(second.isOpen());
    // The refused open left the holder's exclusive use in place.
    EXPECT_EQ(second.open(pty.slaveName()), MB_ERR_SERIAL_PORT_ALREADY_OPEN);
    EXPECT_EQ(pty.slaveSettings(), held);
    pty.send({0x42});
    std::uint8_t byte = 0;
    EXPECT_EQ(holder.readByte(&byte, 1000000), 0);  // the holder still has the line
    EXPECT_EQ(byte, 0x42);

    holder.close();
    EXPECT_EQ(second.open(pty.slaveName()), 0);
    second.close();
    EXPECT_EQ(openDescriptorCount(), descriptors);
}

TEST(SerialPortPty, ALockHeldByAnotherProgramMakesThePortBusy) {
    PtyPair pty;
    const int other = ::open(pty.slaveName(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    SerialPort port;
    EXPECT_EQ(port.open(pty.slaveName()), MB_ERR_SERIAL_PORT_ALREADY_OPEN);
    ::close(other);
    EXPECT_EQ(port.open(pty.slaveName()), 0);
}

// Root is not stopped by exclusive mode, so the open itself cannot tell.
TEST(SerialPortPty, ExclusiveModeSetByAnotherProgramMakesThePortBusyAndIsLeftAlone) {
    PtyPair pty;
    int exclusive = 0;
    if (ioctl(pty.slave(), TIOCGEXCL, &exclusive) != 0) {
        GTEST_SKIP() << "this system cannot report exclusive mode (TIOCGEXCL; qemu user mode lacks it)";
    }
    ASSERT_EQ(ioctl(pty.slave(), TIOCEXCL), 0);  // the other program, without a lock
    const int descriptors = openDescriptorCount();
    SerialPort port;
    EXPECT_EQ(port.open(pty.slaveName()), MB_ERR_SERIAL_PORT_ALREADY_OPEN);
    EXPECT_FALSE(port.isOpen());
    ASSERT_EQ(ioctl(pty.slave(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    EXPECT_EQ(openDescriptorCount(), descriptors);
    ASSERT_EQ(ioctl(pty.slave(), TIOCNXCL), 0);
    EXPECT_EQ(port.open(pty.slaveName()), 0);
}

// The most common first error on Linux (a user outside group dialout) is
// told apart from a port in use. Root may open anything, so a child process
// tries it as nobody.
TEST(SerialPortPty, APortThisUserMayNotOpenIsNoPermissionNotBusy) {
    PtyPair pty;
    ASSERT_EQ(chmod(pty.slaveName(), 0), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        constexpr uid_t kNobody = 65534;
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
            _exit(100);
        }
        SerialPort port;
        _exit(port.open(pty.slaveName()) == MB_ERR_NO_PERMISSION ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(SerialPortPty, OpeningAnotherPortClosesTheFirst) {
    PtyPair first;
    PtyPair second;
    const test::TtySettings firstBefore = first.slaveSettings();
    SerialPort port;
    ASSERT_EQ(port.open(first.slaveName()), 0);
    ASSERT_EQ(port.configure(38400, 8, 2, PARITY_NONE, HANDSHAKE_NONE), 0);
    ASSERT_EQ(port.open(second.slaveName()), 0);
    EXPECT_EQ(first.slaveSettings(), firstBefore);
    SerialPort other;
    EXPECT_EQ(other.open(first.slaveName()), 0);
}

TEST(SerialPortPty, RefusedSettingsLeaveTheDeviceAsItWas) {
    struct Case {
        std::int32_t baudRate, dataBits, stopBits, parity, handshake;
    };
    const Case cases[] = {
        {9600, 9, 1, PARITY_NONE, HANDSHAKE_NONE},  {9600, 6, 1, PARITY_NONE, HANDSHAKE_NONE},
        {9600, 8, 3, PARITY_NONE, HANDSHAKE_NONE},  {9600, 8, 0, PARITY_NONE, HANDSHAKE_NONE},
        {9600, 8, 1, 3, HANDSHAKE_NONE},            {9600, 8, 1, -1, HANDSHAKE_NONE},
        {9600, 8, 1, PARITY_NONE, 3},               {9600, 8, 1, PARITY_NONE, -1},
        {0, 8, 1, PARITY_NONE, HANDSHAKE_NONE},     {-9600, 8, 1, PARITY_NONE, HANDSHAKE_NONE},
    };
    PtyPair pty;
    SerialPort port;
    ASSERT_EQ(port.open(pty.slaveName()), 0);
    ASSERT_EQ(port.configure(19200, 8, 2, PARITY_NONE, HANDSHAKE_NONE), 0);
    const test::TtySettings configured = pty.slaveSettings();
    for (const Case& c : cases) {
        EXPECT_EQ(port.configure(c.baudRate, c.dataBits, c.stopBits, c.parity, c.handshake),
                  MB_ERR_ILLEGAL_ARGUMENT)
            << c.baudRate << " " << c.dataBits << " " << c.stopBits << " " << c.parity << " "
            << c.handshake;
        EXPECT_EQ(pty.slaveSettings(), configured);
        EXPECT_EQ(port.baudRate(), 19200);
        EXPECT_EQ(port.handshake(), HANDSHAKE_NONE);
    }
}

// A pty always runs 8 data bits without parity: it takes the request,
// reports success and keeps its own format. The read-back catches that, and
// the rate and stop bits that came with the request are rolled back.
TEST(SerialPortPty, SettingsTheDeviceSilentlyIgnoresAreRefusedAndRolledBack) {
    struct Case {
        std::int32_t dataBits, parity;
    };
    const Case cases[] = {{7, PARITY_NONE}, {8, PARITY_EVEN}, {8, PARITY_ODD}, {7, PARITY_ODD}};
    PtyPair pty;
    SerialPort port;
    ASSERT_EQ(port.open(pty.slaveName()), 0);
    ASSERT_EQ(port.configure(19200, 8, 1, PARITY_NONE, HANDSHAKE_NONE), 0);
    const test::TtySettings configured = pty.slaveSettings();
    for (const Case& c : cases) {
        EXPECT_EQ(port.configure(38400, c.dataBits, 2, c.parity, HANDSHAKE_NONE), MB_ERR_ILLEGAL_ARGUMENT)
            << c.dataBits << " " << c.parity;
        EXPECT_EQ(pty.slaveSettings(), configured);
        EXPECT_EQ(port.baudRate(), 19200);
    }
}

TEST(SerialPortPty, EveryOperationOnAClosedPortIsRefused) {
    SerialPort port;
    std::uint8_t byte = 0;
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.configure(9600, 8, 1, PARITY_NONE, HANDSHAKE_NONE), MB_ERR_ILLEGAL_STATE);
    EXPECT_EQ(port.readByte(&byte, 1000), MB_ERR_ILLEGAL_STATE);
    EXPECT_EQ(port.write(&byte, 1, 10), MB_ERR_ILLEGAL_STATE);
    EXPECT_EQ(port.purge(), MB_ERR_ILLEGAL_STATE);
    EXPECT_EQ(port.drain(0), MB_ERR_ILLEGAL_STATE);
    EXPECT_EQ(port.setRts(), MB_ERR_ILLEGAL_STATE);
    EXPECT_EQ(port.clearRts(), MB_ERR_ILLEGAL_STATE);
}

TEST(SerialPortPty, ReadTimeOutsWaitAtLeastTheirMicroseconds) {
    PtyPair pty;
    SerialPort port;
    ASSERT_EQ(port.open(pty.slaveName()), 0);
    for (std::uint32_t timeout : {1u, 999u, 1000u, 1001u, 2500u, 20000u}) {
        std::uint8_t byte = 0;
        const auto start = steady_clock::now();
        EXPECT_EQ(port.readByte(&byte, timeout), MB_ERR_REPLY_TIMEOUT);
        const auto waited = steady_clock::now() - start;
        EXPECT_GE(waited, microseconds(timeout)) << timeout;
        EXPECT_LT(waited, microseconds(timeout) + kPrompt) << timeout;
    }
}

TEST(SerialPortPty, ReadWithoutTimeOutWaitsUntilAByteArrives) {
    PtyPair pty;
    SerialPort port;
    ASSERT_EQ(port.open(pty.slaveName()), 0);
    const auto start = steady_clock::now();
    std::thread sender([&pty] {
        std::this_thread::sleep_for(milliseconds(30));
        pty.send({0x5A});
    });
    std::uint8_t byte = 0;
    EXPECT_EQ(port.readByte(&byte, 0), 0);
    const auto waited = steady_clock::now() - start;
    sender.join();
    EXPECT_EQ(byte, 0x5A);
    EXPECT_GE(waited, milliseconds(30));
}

TEST(SerialPortPty, BytesComeOneByOneInOrderBeyondTheReceiveBuffer) {
    PtyPair pty;
    SerialPort port;
    ASSERT_EQ(port.open(pty.slaveName()), 0);
    std::vector<std::uint8_t> sent(700);
    for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<std::uint8_t>(i * 7 + 3);
    pty.send(sent);
    std::vector<std::uint8_t> received;
    std::uint8_t byte = 0;
    while (received.size() < sent.size() && port.readByte(&byte, 200000) == 0) {
        received.push_back(byte);
    }
    EXPECT_EQ(received, sent);
    EXPECT_EQ(port.readByte(&byte, 1000), MB_ERR_REPLY_TIMEOUT);
}

TEST(SerialPortPty, WritesReachTheOtherEnd) {
    PtyPair pty;
    SerialPort port;
    ASSERT_EQ(port.open(pty.slaveName()), 0);
    const std::vector<std::uint8_t> frame{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD, 0x0A, 0x0D};
    EXPECT_EQ(port.write(frame.data(), static_cast<int>(frame.size()), 100), 0);
    EXPECT_EQ(port.drain(0), 0);
    EXPECT_EQ(pty.receive(frame.size(), milliseconds(1000)), frame);
    EXPECT_EQ(port.write(frame.data(), 0, 100), 0);
    EXPECT_EQ(port.write(frame.data(), -1, 100), MB_ERR_ILLEGAL_ARGUMENT);
    EXPECT_EQ(pty.receive(1, milliseconds(20)), std::vector<std::uint8_t>{});
}

TEST(SerialPortPty, AWriteThatCannotFinishInTimeIsATimeOut) {
    PtyPair pty;  // nobody reads the master side, so its queue fills up
    SerialPort port;
    ASSERT_EQ(port.open(pty.slaveName()), 0);
    const std::vector<std::uint8_t> flood(1 << 20, 0x55);
    const auto start = steady_clock::now();
    EXPECT_EQ(port.write(flood.data(), static_cast<int>(flood.size()), 30), MB_ERR_SEND_TIMEOUT);
    const auto waited = steady_clock::now() - start;
    EXPECT_GE(waited, milliseconds(30));
    EXPECT_LT(waited, milliseconds(30) + kPrompt * 10);
}

TEST(SerialPortPty, PurgeDiscardsReceivedAndBufferedInput) {
    PtyPair pty;
    SerialPort port;
    ASSERT_EQ(port.open(pty.slaveName()), 0);
    std::uint8_t byte = 0;
    // Bytes already taken into the port's receive buffer.
    pty.send({0x11, 0x22, 0x33});
    ASSERT_EQ(port.readByte(&byte, 1000000), 0);
    EXPECT_EQ(byte, 0x11);
    EXPECT_EQ(port.purge(), 0);
    EXPECT_EQ(port.readByte(&byte, 20000), MB_ERR_REPLY_TIMEOUT);
    // Bytes still queued in the device.
    pty.send({0x44, 0x55});
    ASSERT_TRUE(pty.waitUntilPendingAtSlave(2));
    EXPECT_EQ(port.purge(), 0);
    EXPECT_EQ(pty.pendingAtSlave(), 0);
    EXPECT_EQ(port.readByte(&byte, 20000), MB_ERR_REPLY_TIMEOUT);
    // The port goes on receiving afterwards.
    pty.send({0x66});
    ASSERT_EQ(port.readByte(&byte, 1000000), 0);
    EXPECT_EQ(byte, 0x66);
}

// A signal handler for the read tests below: it can put a byte on the line
// and then hold the reader up past its deadline.
struct SignalScene {
    int master = -1;
    int slave = -1;
    bool sendByteAndStall = false;
};
SignalScene signalScene;

void onTestSignal(int) {
    if (!signalScene.sendByteAndStall) return;
    const std::uint8_t byte = 0xA5;
    if (::write(signalScene.master, &byte, 1) != 1) return;
    int pending = 0;
    for (int i = 0; i < 2000 && pending == 0; ++i) {
        ioctl(signalScene.slave, FIONREAD, &pending);
        const timespec pause{0, 100000};
        nanosleep(&pause, nullptr);
    }
    const timespec stall{0, 400000000};  // past the read's deadline
    nanosleep(&stall, nullptr);
}

// A signal ends a read as its time-out would (so that a server loop without
// time-out returns to its application), and a byte that is waiting when the
// read ends is never reported as silence.
TEST(SerialPortPty, ASignalEndsAReadButNeverHidesAWaitingByte) {
    struct Case {
        const char* what;
        std::uint32_t timeoutUs;
        bool sendByteAndStall;
        int expected;
    };
    const Case cases[] = {
        {"no time-out, a signal", 0, false, MB_ERR_REPLY_TIMEOUT},
        {"a byte comes with the signal, the deadline passes", 300000, true, 0},
    };
    struct sigaction action{};
    action.sa_handler = onTestSignal;  // without SA_RESTART
    struct sigaction previous{};
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
    for (const Case& c : cases) {
        PtyPair pty;
        SerialPort port;
        ASSERT_EQ(port.open(pty.slaveName()), 0);
        signalScene = SignalScene{pty.master(), pty.slave(), c.sendByteAndStall};
        std::atomic<bool> done{false};
        const pthread_t reader = pthread_self();
        std::thread signaller([&] {
            std::this_thread::sleep_for(milliseconds(5));
            for (int i = 0; i < 100 && !done; ++i) {  // about 2 s, then the line itself ends the read
                pthread_kill(reader, SIGUSR1);
                if (c.sendByteAndStall) return;
                std::this_thread::sleep_for(milliseconds(20));
            }
            if (!done) pty.send({0x00});
        });
        std::uint8_t byte = 0;
        const int result = port.readByte(&byte, c.timeoutUs);
        done = true;
        signaller.join();
        EXPECT_EQ(result, c.expected) << c.what;
        if (c.expected == 0) {
            EXPECT_EQ(byte, 0xA5) << c.what;
        }
    }
    signalScene = SignalScene{};
    sigaction(SIGUSR1, &previous, nullptr);
}

// What the device is asked to run for each character format. A pty keeps
// 8 data bits without parity whatever it is given, so the modes are checked
// before they reach the device: a swapped odd and even parity shows here.
TEST(SerialLineModes, EveryFormatFromAnyStartingPoint) {
    struct Case {
        int dataBits, stopBits;
        platform::Parity parity;
        std::uint32_t control;  // of CSIZE, CSTOPB, PARENB, PARODD
        std::uint32_t input;    // of INPCK, IGNPAR
    };
    using platform::Parity;
    const Case cases[] = {
        {7, 1, Parity::none, CS7, 0},
        {7, 1, Parity::odd, CS7 | PARENB | PARODD, INPCK},
        {7, 1, Parity::even, CS7 | PARENB, INPCK},
        {7, 2, Parity::none, CS7 | CSTOPB, 0},
        {7, 2, Parity::odd, CS7 | CSTOPB | PARENB | PARODD, INPCK},
        {7, 2, Parity::even, CS7 | CSTOPB | PARENB, INPCK},
        {8, 1, Parity::none, CS8, 0},
        {8, 1, Parity::odd, CS8 | PARENB | PARODD, INPCK},
        {8, 1, Parity::even, CS8 | PARENB, INPCK},
        {8, 2, Parity::none, CS8 | CSTOPB, 0},
        {8, 2, Parity::odd, CS8 | CSTOPB | PARENB | PARODD, INPCK},
        {8, 2, Parity::even, CS8 | CSTOPB | PARENB, INPCK},
    };
    constexpr std::uint32_t kFormat = CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS;
    constexpr std::uint32_t kChecking = INPCK | IGNPAR | PARMRK | ISTRIP;
    constexpr std::uint32_t kRawInput = IGNBRK | BRKINT | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY;
    for (std::uint32_t start : {0u, ~0u}) {
        for (const Case& c : cases) {
            const platform::LineSettings line{9600, c.dataBits, c.stopBits, c.parity,
                                              platform::FlowControl::none};
            const platform::TermiosModes modes =
                platform::rawLineModes(platform::TermiosModes{start, start, start, start}, line);
            const std::string what = std::to_string(c.dataBits) + " " + std::to_string(c.stopBits) + " " +
                                     std::to_string(static_cast<int>(c.parity)) + " from " + std::to_string(start);
            EXPECT_EQ(modes.control & kFormat, c.control) << what;
            EXPECT_EQ(modes.input & kChecking, c.input) << what;
            EXPECT_EQ(modes.input & kRawInput, 0u) << what;
            EXPECT_EQ(modes.control & (CLOCAL | CREAD), static_cast<std::uint32_t>(CLOCAL | CREAD)) << what;
            EXPECT_EQ(modes.output & OPOST, 0u) << what;
            EXPECT_EQ(modes.local & (ECHO | ECHONL | ICANON | ISIG | IEXTEN), 0u) << what;
        }
    }
    const platform::LineSettings handshake{9600, 8, 1, platform::Parity::none, platform::FlowControl::rtsCts};
    EXPECT_EQ(platform::rawLineModes({}, handshake).control & CRTSCTS, static_cast<std::uint32_t>(CRTSCTS));
}

TEST(SerialPortPty, RtsOnAPtyIsAnIoErrorAndHandshakeRefusesIt) {
    PtyPair pty;  // a pty has no modem lines
    SerialPort port;
    ASSERT_EQ(port.open(pty.slaveName()), 0);
    EXPECT_EQ(port.setRts(), MB_ERR_IO);
    EXPECT_EQ(port.clearRts(), MB_ERR_IO);
    ASSERT_EQ(port.configure(9600, 8, 1, PARITY_NONE, HANDSHAKE_RTS_CTS), 0);
    EXPECT_EQ(port.setRts(), MB_ERR_ILLEGAL_STATE);
    EXPECT_EQ(port.drain(0), MB_ERR_ILLEGAL_STATE);
}

TEST(SerialPortPty, ADeviceThatGoesAwayMidReadIsAnErrorNotAHang) {
    const int descriptors = openDescriptorCount();
    {
        PtyPair pty;
        SerialPort port;
        ASSERT_EQ(port.open(pty.slaveName()), 0);
        std::thread unplug([&pty] {
            std::this_thread::sleep_for(milliseconds(30));
            pty.closeMaster();
        });
        std::uint8_t byte = 0;
        const auto start = steady_clock::now();
        EXPECT_EQ(port.readByte(&byte, 0), MB_ERR_IO);  // 0: would wait forever
        unplug.join();
        EXPECT_LT(steady_clock::now() - start, milliseconds(2000));

        // Later calls fail at once as well.
        EXPECT_EQ(port.readByte(&byte, 0), MB_ERR_IO);
        EXPECT_EQ(port.readByte(&byte, 5000000), MB_ERR_IO);
        EXPECT_EQ(port.write(&byte, 1, 0), MB_ERR_IO);
        EXPECT_TRUE(port.isOpen());
        port.close();
        EXPECT_FALSE(port.isOpen());
    }
    EXPECT_EQ(openDescriptorCount(), descriptors);
}

}  // namespace
}  // namespace mbslave

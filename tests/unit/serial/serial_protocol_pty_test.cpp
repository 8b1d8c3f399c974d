// Serial handles started on pseudo-terminal pairs through the C interface.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "api/protocol_handle.hpp"
#include "pty_pair.hpp"
#include "support/callbacks.hpp"
#include "support/pty_slave.hpp"
#include "test_serial_protocol.hpp"

namespace mbslave {
namespace {

using std::chrono::milliseconds;
using test::openDescriptorCount;
using test::PtyPair;
using test::TestSerialProtocol;

using test::HandlePtr;

int readOne(int, std::uint16_t regArr[], int, const RequestInfo*) {
    regArr[0] = 1;
    return 1;
}

HandlePtr serialHandle(int address = 1) {
    HandlePtr handle(toOpaque(createHandle<TestSerialProtocol>()));
    test::configureCallbacks(handle.get(), address, {readOne});
    return handle;
}

int start(MbusSlaveHandle* handle, const PtyPair& pty, int stopBits = 1, int parity = PARITY_NONE) {
    return mbusSlave_startupSerialServer(handle, pty.wideSlaveName().c_str(), 19200, 8, stopBits,
                                         parity);
}

TEST(SerialHandlePty, DestroyingAStartedHandleReleasesThePort) {
    PtyPair pty;
    const test::TtySettings before = pty.slaveSettings();
    const int descriptors = openDescriptorCount();
    HandlePtr first = serialHandle();
    HandlePtr second = serialHandle();
    ASSERT_EQ(start(first.get(), pty), MB_OK);
    EXPECT_EQ(mbusSlave_isStarted(first.get()), 1);
    EXPECT_EQ(start(second.get(), pty), MB_ERR_SERIAL_PORT_ALREADY_OPEN);
    EXPECT_EQ(mbusSlave_isStarted(second.get()), 0);

    first.reset();
    EXPECT_EQ(pty.slaveSettings(), before);
    EXPECT_EQ(start(second.get(), pty), MB_OK);
    second.reset();
    EXPECT_EQ(pty.slaveSettings(), before);
    EXPECT_EQ(openDescriptorCount(), descriptors);
}

TEST(SerialHandlePty, RefusedSettingsCloseThePortWithItsOwnSettingsBack) {
    struct Case {
        int stopBits, parity;
    };
    // Stop bits 3 and parity 5 are outside their sets; a pty does not run
    // parity at all, so even parity is a setting the device refuses.
    const Case cases[] = {{3, PARITY_NONE}, {1, 5}, {1, PARITY_EVEN}};
    PtyPair pty;
    const test::TtySettings before = pty.slaveSettings();
    const int descriptors = openDescriptorCount();
    HandlePtr handle = serialHandle();
    for (const Case& c : cases) {
        EXPECT_EQ(start(handle.get(), pty, c.stopBits, c.parity), MB_ERR_ILLEGAL_ARGUMENT);
        EXPECT_EQ(mbusSlave_isStarted(handle.get()), 0);
        EXPECT_EQ(pty.slaveSettings(), before);
        EXPECT_EQ(openDescriptorCount(), descriptors);
    }
    EXPECT_EQ(start(handle.get(), pty, 2), MB_OK);
}

TEST(SerialHandlePty, StartWhileStartedKeepsTheRunningLine) {
    PtyPair pty;
    HandlePtr handle = serialHandle();
    ASSERT_EQ(start(handle.get(), pty, 2), MB_OK);
    const test::TtySettings running = pty.slaveSettings();
    EXPECT_EQ(mbusSlave_startupSerialServer(handle.get(), pty.wideSlaveName().c_str(), 9600, 8, 1,
                                            PARITY_NONE),
              MB_ERR_ILLEGAL_STATE);
    EXPECT_EQ(pty.slaveSettings(), running);
    EXPECT_EQ(mbusSlave_isStarted(handle.get()), 1);
}

TEST(SerialHandlePty, MissingPortsAndShutdown) {
    PtyPair pty;
    const test::TtySettings before = pty.slaveSettings();
    HandlePtr handle = serialHandle();
    EXPECT_EQ(mbusSlave_startupSerialServer(handle.get(), u"/dev/no-such-tty", 9600, 8, 1, PARITY_NONE),
              MB_ERR_PORT_OPEN);
    EXPECT_EQ(mbusSlave_startupSerialServer(handle.get(), u"", 9600, 8, 1, PARITY_NONE),
              MB_ERR_PORT_OPEN);
    EXPECT_EQ(mbusSlave_startupSerialServer(handle.get(), u"/dev/null", 9600, 8, 1, PARITY_NONE),
              MB_ERR_PORT_OPEN);
    ASSERT_EQ(start(handle.get(), pty), MB_OK);
    mbusSlave_shutdownServer(handle.get());
    EXPECT_EQ(mbusSlave_isStarted(handle.get()), 0);
    EXPECT_EQ(mbusSlave_serverLoop(handle.get()), MB_ERR_ILLEGAL_STATE);
    EXPECT_EQ(pty.slaveSettings(), before);
    EXPECT_EQ(start(handle.get(), pty), MB_OK);  // may be started again
}

TEST(SerialHandlePty, RepliesGoOutOnTheLineAlsoInRs485Mode) {
    for (std::uint32_t rs485Delay : {0u, 2u}) {
        PtyPair pty;
        HandlePtr handle = serialHandle();
        // A pty has no RTS line: RS-485 switching fails quietly, the reply goes out.
        ASSERT_EQ(mbusSlave_enableRs485Mode(handle.get(), rs485Delay), MB_OK);
        ASSERT_EQ(start(handle.get(), pty), MB_OK);
        pty.send({0x7E});
        EXPECT_EQ(mbusSlave_serverLoop(handle.get()), MB_OK);
        EXPECT_EQ(pty.receive(1, milliseconds(1000)), std::vector<std::uint8_t>{0x7E}) << rs485Delay;
        auto& protocol = static_cast<TestSerialProtocol&>(*toHandle(handle.get())->protocol);
        EXPECT_EQ(protocol.lastReply, MB_OK);
    }
}

TEST(SerialHandlePty, ALineThatGoesAwayFailsTheServerLoopWithoutHanging) {
    const int descriptors = openDescriptorCount();
    {
        PtyPair pty;
        HandlePtr handle = serialHandle();
        ASSERT_EQ(mbusSlave_setTimeout(handle.get(), 0), MB_OK);  // wait without limit
        ASSERT_EQ(start(handle.get(), pty), MB_OK);
        pty.closeMaster();
        EXPECT_EQ(mbusSlave_serverLoop(handle.get()), MB_ERR_IO);
        EXPECT_EQ(mbusSlave_isStarted(handle.get()), 1);
        mbusSlave_shutdownServer(handle.get());
    }
    EXPECT_EQ(openDescriptorCount(), descriptors);
}

// A line that never falls silent (noise, a babbling device) must not hold
// a pass: with a protocol time-out of 100 ms each pass returns after about
// 100 to 200 ms, so supervision and shutdown go on. Without the bound no
// pass returns while the writer runs (8 s). The bounds leave room for a
// loaded machine that holds the process up for a while.
TEST(SerialHandlePty, PassesReturnOnALineThatNeverFallsSilent) {
    struct Case {
        const char* what;
        MbusSlaveHandle* (*create)();
        std::uint8_t noise;  // RTU: bytes of an endless frame; ASCII: ignored line noise
    };
    const Case cases[] = {
        {"RTU", mbusSlave_createRtuProtocol, 0x55},
        {"ASCII", mbusSlave_createAsciiProtocol, 'x'},
    };
    for (const Case& c : cases) {
        test::PtySlave slave(c.create());
        // The longest silence that does not end an RTU frame: 22 ms.
        mbusSlave_setFrameTolerance(slave.handle.get(), 20);
        ASSERT_EQ(slave.start(115200), MB_OK) << c.what;
        std::atomic<bool> stop{false};
        std::thread writer([&] {
            const std::vector<std::uint8_t> burst(16, c.noise);
            const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(8);
            while (!stop && std::chrono::steady_clock::now() < limit) {
                slave.pty.send(burst);
                std::this_thread::sleep_for(milliseconds(1));
            }
        });
        int passes = 0;
        auto longest = std::chrono::steady_clock::duration::zero();
        const auto end = std::chrono::steady_clock::now() + milliseconds(3000);
        while (std::chrono::steady_clock::now() < end) {
            const auto begun = std::chrono::steady_clock::now();
            EXPECT_EQ(mbusSlave_serverLoop(slave.handle.get()), MB_OK) << c.what;
            longest = std::max(longest, std::chrono::steady_clock::now() - begun);
            ++passes;
        }
        stop = true;
        writer.join();
        EXPECT_GE(passes, 5) << c.what;
        EXPECT_LT(longest, milliseconds(2500)) << c.what;
        EXPECT_EQ(slave.pty.receive(1, milliseconds(0)).size(), 0u) << c.what;  // nothing answered
    }
}

}  // namespace
}  // namespace mbslave

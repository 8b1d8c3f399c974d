// RTU handles on pseudo-terminal pairs through the C interface, driven from
// the master side with controlled gaps. Gaps that must end a frame are many
// silent intervals long (a late writer only lengthens them); gaps that must
// not end one leave a margin of more than 10 ms and are tried a few times,
// so that a loaded machine delaying the writer once cannot fail the test.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "rtu_test_support.hpp"
#include "unit/serial/pty_pair.hpp"

namespace mbslave {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;
using test::Bytes;
using test::PtyPair;
using test::withCrc;

// The application's data: holding registers per address, and the writes
// each address received with the slave address its context showed.
struct Application {
    std::array<std::array<std::uint16_t, 16>, 256> registers{};
    std::array<int, 256> writes{};
    std::array<int, 256> contextAddress{};
    int reads = 0;
};
Application app;

int readRegisters(int startRef, std::uint16_t regArr[], int refCnt, const RequestInfo* info) {
    ++app.reads;
    for (int i = 0; i < refCnt; ++i) {
        regArr[i] = app.registers[static_cast<std::size_t>(info->slaveAddress)]
                                 [static_cast<std::size_t>((startRef + i) % 16)];
    }
    return 1;
}

template <int Address>
int writeRegisters(int startRef, const std::uint16_t regArr[], int refCnt, const RequestInfo* info) {
    ++app.writes[Address];
    app.contextAddress[Address] = info->slaveAddress;
    for (int i = 0; i < refCnt; ++i) app.registers[Address][static_cast<std::size_t>((startRef + i) % 16)] = regArr[i];
    return 1;
}

struct HandleDeleter {
    void operator()(MbusSlaveHandle* handle) const { mbusSlave_destroyProtocol(handle); }
};
using HandlePtr = std::unique_ptr<MbusSlaveHandle, HandleDeleter>;

template <int Address>
void configure(MbusSlaveHandle* handle) {
    mbusSlave_configureCallbacks(handle, Address, readRegisters, writeRegisters<Address>, nullptr,
                                 nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 nullptr, nullptr, nullptr, nullptr, nullptr);
}

class RtuOnPty {
public:
    explicit RtuOnPty(int baudRate, std::uint32_t toleranceMs = 0) {
        app = Application{};
        configure<1>(handle.get());
        configure<17>(handle.get());
        configure<254>(handle.get());
        configure<255>(handle.get());
        mbusSlave_setTimeout(handle.get(), 100);
        mbusSlave_setFrameTolerance(handle.get(), toleranceMs);
        started = mbusSlave_startupSerialServer(handle.get(), pty.wideSlaveName().c_str(), baudRate,
                                                8, 1, PARITY_NONE);
    }

    // Passes until the total counter reaches total or the limit passes.
    void serveUntilTotal(std::uint32_t total, milliseconds limit = milliseconds(2000)) {
        const auto deadline = steady_clock::now() + limit;
        while (mbusSlave_getTotalCounter(handle.get()) < total && steady_clock::now() < deadline) {
            ASSERT_EQ(mbusSlave_serverLoop(handle.get()), MB_OK);
        }
    }
    std::uint32_t total() { return mbusSlave_getTotalCounter(handle.get()); }
    std::uint32_t success() { return mbusSlave_getSuccessCounter(handle.get()); }

    PtyPair pty;
    HandlePtr handle{mbusSlave_createRtuProtocol()};
    int started = -1;
};

const Bytes kReadTwo = withCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x02});
const Bytes kReadTwoReply = withCrc({0x01, 0x03, 0x04, 0x00, 0x00, 0x00, 0x00});

TEST(RtuPty, AReadIsAnswered) {
    for (int baudRate : {9600, 115200}) {
        RtuOnPty slave(baudRate);
        ASSERT_EQ(slave.started, MB_OK);
        app.registers[1][1] = 0x1234;
        app.registers[1][2] = 0xBEEF;
        slave.pty.send(kReadTwo);
        slave.serveUntilTotal(1);
        EXPECT_EQ(slave.pty.receive(9, milliseconds(1000)),
                  withCrc({0x01, 0x03, 0x04, 0x12, 0x34, 0xBE, 0xEF}));
        EXPECT_EQ(slave.success(), 1u);
    }
}

TEST(RtuPty, GapsInsideAFrame) {
    struct Case {
        int baudRate;
        std::uint32_t toleranceMs;
        int gapMs;
        bool endsFrame;
    };
    const Case cases[] = {
        {9600, 0, 15, true},     // 4.6 ms interval
        {115200, 0, 15, true},   // 2 ms
        {9600, 20, 15, false},   // 24.6 ms with the tolerance
        {1200, 0, 15, false},    // 36.7 ms
        {115200, 20, 8, false},  // 22 ms
    };
    for (const Case& c : cases) {
        bool behaved = false;
        for (int attempt = 0; attempt < 5 && !behaved; ++attempt) {
            RtuOnPty slave(c.baudRate, c.toleranceMs);
            ASSERT_EQ(slave.started, MB_OK);
            std::thread master([&] {
                slave.pty.send(Bytes(kReadTwo.begin(), kReadTwo.begin() + 3));
                std::this_thread::sleep_for(milliseconds(c.gapMs));
                slave.pty.send(Bytes(kReadTwo.begin() + 3, kReadTwo.end()));
            });
            // A split frame is two frames that both fail.
            slave.serveUntilTotal(c.endsFrame ? 2 : 1);
            master.join();
            const Bytes reply = slave.pty.receive(kReadTwoReply.size(), milliseconds(c.endsFrame ? 100 : 1000));
            if (c.endsFrame) {
                behaved = slave.total() == 2 && reply.empty() && slave.success() == 0;
            } else {
                behaved = slave.total() == 1 && reply == kReadTwoReply && slave.success() == 1;
            }
        }
        EXPECT_TRUE(behaved) << c.baudRate << " baud, tolerance " << c.toleranceMs << " ms, gap "
                             << c.gapMs << " ms";
    }
}

TEST(RtuPty, AKnownRequestEndsAtItsLengthAnUnknownOneBySilence) {
    // One write each: the extra byte follows the request without any gap.
    Bytes readAndMore = kReadTwo;
    readAndMore.push_back(0x55);
    // Not 0x00: a frame followed by 0x00 carries a valid CRC again.
    Bytes reportIdAndMore = withCrc({0x01, 0x11});
    reportIdAndMore.push_back(0x55);

    RtuOnPty slave(19200);
    ASSERT_EQ(slave.started, MB_OK);
    slave.pty.send(readAndMore);
    slave.serveUntilTotal(1);
    EXPECT_EQ(slave.pty.receive(kReadTwoReply.size(), milliseconds(1000)), kReadTwoReply);

    slave.pty.send(reportIdAndMore);  // 5 bytes: its CRC fails
    slave.serveUntilTotal(2);
    EXPECT_TRUE(slave.pty.receive(1, milliseconds(100)).empty());
    EXPECT_EQ(slave.success(), 1u);
}

TEST(RtuPty, DroppedFramesAreCountedButNeverAnswered) {
    struct Case {
        const char* what;
        Bytes frame;
        std::size_t replyLength;  // 0: no reply
    };
    Bytes corrupted = kReadTwo;
    corrupted[4] ^= 0x01;
    const Case cases[] = {
        {"3 bytes", {0x01, 0x03, 0x00}, 0},
        {"CRC error", corrupted, 0},
        {"address without table", withCrc({0x05, 0x03, 0x00, 0x00, 0x00, 0x02}), 0},
        {"255 bytes", test::echoRequest(1, 249), 255},
        {"256 bytes", test::echoRequest(1, 250), 0},
    };
    for (const Case& c : cases) {
        RtuOnPty slave(115200);
        ASSERT_EQ(slave.started, MB_OK);
        slave.pty.send(c.frame);
        slave.serveUntilTotal(1);
        EXPECT_EQ(slave.total(), 1u) << c.what;
        if (c.replyLength == 0) {
            EXPECT_TRUE(slave.pty.receive(1, milliseconds(100)).empty()) << c.what;
            EXPECT_EQ(slave.success(), 0u) << c.what;
        } else {
            EXPECT_EQ(slave.pty.receive(c.replyLength, milliseconds(1000)), c.frame) << c.what;
            EXPECT_EQ(slave.success(), 1u) << c.what;
        }
        EXPECT_EQ(app.reads, 0) << c.what;
    }
}

TEST(RtuPty, BroadcastWriteReachesEveryConfiguredAddressButNo255AndNoReply) {
    RtuOnPty slave(38400);
    ASSERT_EQ(slave.started, MB_OK);
    slave.pty.send(withCrc({0x00, 0x06, 0x00, 0x03, 0xCA, 0xFE}));
    slave.serveUntilTotal(1);
    EXPECT_EQ(mbusSlave_getConnectionStatus(slave.handle.get()), 1);
    EXPECT_TRUE(slave.pty.receive(1, milliseconds(100)).empty());
    for (int address : {1, 17, 254}) {
        EXPECT_EQ(app.writes[static_cast<std::size_t>(address)], 1) << address;
        EXPECT_EQ(app.contextAddress[static_cast<std::size_t>(address)], 0) << address;
        EXPECT_EQ(app.registers[static_cast<std::size_t>(address)][4], 0xCAFE) << address;
    }
    EXPECT_EQ(app.writes[255], 0);
    EXPECT_EQ(slave.success(), 1u);
}

TEST(RtuPty, TheReplyWaitsForTheLineToFallSilent) {
    // 22 ms interval; noise every 3 ms keeps the line busy after the request.
    bool behaved = false;
    for (int attempt = 0; attempt < 3 && !behaved; ++attempt) {
        RtuOnPty slave(115200, 20);
        ASSERT_EQ(slave.started, MB_OK);
        steady_clock::time_point lastNoise;
        std::thread master([&] {
            slave.pty.send(kReadTwo);
            for (int i = 0; i < 10; ++i) {
                std::this_thread::sleep_for(milliseconds(3));
                lastNoise = steady_clock::now();
                slave.pty.send({0xFF});
            }
        });
        slave.serveUntilTotal(1);
        const Bytes reply = slave.pty.receive(kReadTwoReply.size(), milliseconds(1000));
        const auto replyAt = steady_clock::now();
        master.join();
        behaved = reply == kReadTwoReply && replyAt - lastNoise >= milliseconds(22);
    }
    EXPECT_TRUE(behaved);
}

}  // namespace
}  // namespace mbslave

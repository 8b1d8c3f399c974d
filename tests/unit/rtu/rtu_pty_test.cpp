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
#include "support/pty_slave.hpp"

namespace mbslave {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;
using test::Bytes;
using test::withCrc;

// An RTU slave on a pty with the given frame tolerance, started.
class RtuOnPty : public test::PtySlave {
public:
    explicit RtuOnPty(int baudRate, std::uint32_t toleranceMs = 0)
        : PtySlave(mbusSlave_createRtuProtocol()) {
        mbusSlave_setFrameTolerance(handle.get(), toleranceMs);
        started = start(baudRate);
    }
    int started;
};

const Bytes kReadTwo = withCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x02});
const Bytes kReadTwoReply = withCrc({0x01, 0x03, 0x04, 0x00, 0x00, 0x00, 0x00});

TEST(RtuPty, AReadIsAnswered) {
    for (int baudRate : {9600, 115200}) {
        RtuOnPty slave(baudRate);
        ASSERT_EQ(slave.started, MB_OK);
        test::ptyApp.registers[1][1] = 0x1234;
        test::ptyApp.registers[1][2] = 0xBEEF;
        slave.pty.send(kReadTwo);
        ASSERT_TRUE(slave.serveUntilTotal(1));
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
            EXPECT_TRUE(slave.serveUntilTotal(c.endsFrame ? 2 : 1));
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
    ASSERT_TRUE(slave.serveUntilTotal(1));
    EXPECT_EQ(slave.pty.receive(kReadTwoReply.size(), milliseconds(1000)), kReadTwoReply);

    slave.pty.send(reportIdAndMore);  // 5 bytes: its CRC fails
    ASSERT_TRUE(slave.serveUntilTotal(2));
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
        ASSERT_TRUE(slave.serveUntilTotal(1));
        EXPECT_EQ(slave.total(), 1u) << c.what;
        if (c.replyLength == 0) {
            EXPECT_TRUE(slave.pty.receive(1, milliseconds(100)).empty()) << c.what;
            EXPECT_EQ(slave.success(), 0u) << c.what;
        } else {
            EXPECT_EQ(slave.pty.receive(c.replyLength, milliseconds(1000)), c.frame) << c.what;
            EXPECT_EQ(slave.success(), 1u) << c.what;
        }
        EXPECT_EQ(test::ptyApp.reads, 0) << c.what;
    }
}

TEST(RtuPty, BroadcastWriteReachesEveryConfiguredAddressButNo255AndNoReply) {
    RtuOnPty slave(38400);
    ASSERT_EQ(slave.started, MB_OK);
    slave.pty.send(withCrc({0x00, 0x06, 0x00, 0x03, 0xCA, 0xFE}));
    ASSERT_TRUE(slave.serveUntilTotal(1));
    EXPECT_EQ(mbusSlave_getConnectionStatus(slave.handle.get()), 1);
    EXPECT_TRUE(slave.pty.receive(1, milliseconds(100)).empty());
    for (int address : {1, 17, 254}) {
        EXPECT_EQ(test::ptyApp.writes[static_cast<std::size_t>(address)], 1) << address;
        EXPECT_EQ(test::ptyApp.contextAddress[static_cast<std::size_t>(address)], 0) << address;
        EXPECT_EQ(test::ptyApp.registers[static_cast<std::size_t>(address)][4], 0xCAFE) << address;
    }
    EXPECT_EQ(test::ptyApp.writes[255], 0);
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
        EXPECT_TRUE(slave.serveUntilTotal(1));
        const Bytes reply = slave.pty.receive(kReadTwoReply.size(), milliseconds(1000));
        const auto replyAt = steady_clock::now();
        master.join();
        behaved = reply == kReadTwoReply && replyAt - lastNoise >= milliseconds(22);
    }
    EXPECT_TRUE(behaved);
}

}  // namespace
}  // namespace mbslave

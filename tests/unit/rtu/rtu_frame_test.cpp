// The RTU server loop on a scripted fake line: frame ends, drops and their
// counting, CRC, broadcast, replies and the silence before them.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "rtu_test_support.hpp"
#include "support/wide_literal.hpp"

namespace mbslave {
namespace {

using platform::DeviceResult;
using test::Bytes;
using test::echoRequest;
using test::FakeClock;
using test::FakeRtuLine;
using test::FakeSerialDevice;
using test::withCrc;
using Call = FakeSerialDevice::Call;

struct FrameCase {
    const char* what;
    Bytes received;            // then silence
    std::vector<Bytes> sent;   // replies on the line
    std::uint32_t total, success;
    int accesses;
};

Bytes corrupted(Bytes frame, std::size_t position) {
    frame[position] ^= 0x10;
    return frame;
}

Bytes repeated(std::uint8_t value, std::size_t count) { return Bytes(count, value); }

TEST(RtuFrames, EndsDropsAndCounting) {
    const Bytes readTwo = withCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x02});
    const Bytes readTwoReply = withCrc({0x01, 0x03, 0x04, 0x00, 0x0A, 0x00, 0x0B});
    Bytes tooLong = echoRequest(1, 250);  // 256 bytes with a correct CRC
    const FrameCase cases[] = {
        {"read holding registers", readTwo, {readTwoReply}, 1, 1, 1},
        {"3 bytes", {0x01, 0x03, 0x00}, {}, 1, 0, 0},
        {"1 byte", {0x01}, {}, 1, 0, 0},
        {"corrupted data", corrupted(readTwo, 3), {}, 1, 0, 0},
        {"corrupted CRC", corrupted(readTwo, 7), {}, 1, 0, 0},
        {"address without table", withCrc({0x05, 0x03, 0x00, 0x00, 0x00, 0x02}), {}, 1, 0, 0},
        {"address 255 without table", withCrc({0xFF, 0x03, 0x00, 0x00, 0x00, 0x02}), {}, 1, 0, 0},
        // Report slave id, which the table declines (no bytes): exception 4.
        {"4-byte frame", withCrc({0x01, 0x11}), {withCrc({0x01, 0x91, 0x04})}, 1, 1, 1},
        {"255 bytes", echoRequest(1, 249), {echoRequest(1, 249)}, 1, 1, 0},
        {"256 bytes", tooLong, {}, 1, 0, 0},
        {"600 bytes of noise", repeated(0x01, 600), {}, 1, 0, 0},
        {"unknown function", withCrc({0x01, 0x41, 0x00}), {withCrc({0x01, 0xC1, 0x01})}, 1, 1, 0},
    };
    for (const FrameCase& c : cases) {
        FakeRtuLine line({1, 7});
        ASSERT_EQ(line.started, MB_OK);
        line.tables[1].registers[1] = 0x000A;
        line.tables[1].registers[2] = 0x000B;
        line.receive(c.received);
        EXPECT_EQ(line.protocol->serverLoop(), MB_OK) << c.what;
        EXPECT_EQ(line.device.writes, c.sent) << c.what;
        EXPECT_EQ(line.protocol->getTotalCounter(), c.total) << c.what;
        EXPECT_EQ(line.protocol->getSuccessCounter(), c.success) << c.what;
        EXPECT_EQ(line.accessCount(), c.accesses) << c.what;
    }
}

TEST(RtuFrames, KnownRequestsEndAtTheirLengthOthersBySilence) {
    struct Case {
        const char* what;
        Bytes request;
        bool endsEarly;
    };
    const Case cases[] = {
        {"read coils", withCrc({0x07, 0x01, 0x00, 0x00, 0x00, 0x08}), true},
        {"write single coil", withCrc({0x07, 0x05, 0x00, 0x02, 0xFF, 0x00}), true},
        {"write multiple coils", withCrc({0x07, 0x0F, 0x00, 0x00, 0x00, 0x0A, 0x02, 0xFF, 0x03}), true},
        {"write multiple registers", withCrc({0x07, 0x10, 0x00, 0x00, 0x00, 0x01, 0x02, 0x12, 0x34}), true},
        {"mask write", withCrc({0x07, 0x16, 0x00, 0x00, 0x00, 0xF2, 0x00, 0x25}), true},
        {"read/write registers",
         withCrc({0x07, 0x17, 0x00, 0x00, 0x00, 0x01, 0x00, 0x04, 0x00, 0x01, 0x02, 0x00, 0x2A}), true},
        {"read exception status", withCrc({0x07, 0x07}), false},  // 4 bytes: ends by silence
        {"diagnostics", echoRequest(7, 2), false},
        {"report slave id", withCrc({0x07, 0x11}), false},
        {"address without table", withCrc({0x09, 0x03, 0x00, 0x00, 0x00, 0x01}), false},
    };
    for (const Case& c : cases) {
        FakeRtuLine line({7});
        // No silence after the frame: the next entries are extra bytes that
        // a frame ending early never reads.
        for (std::uint8_t byte : c.request) line.device.input.push_back(byte);
        line.device.input.push_back(0x55);
        line.device.input.push_back(FakeSerialDevice::kSilence);
        EXPECT_EQ(line.protocol->serverLoop(), MB_OK) << c.what;
        EXPECT_EQ(line.protocol->getTotalCounter(), 1u) << c.what;
        // Reads of the frame itself come before the first purge (the reply).
        int frameReads = 0;
        for (Call call : line.device.calls()) {
            if (call == Call::purge) break;
            frameReads += call == Call::readByte ? 1 : 0;
        }
        if (c.endsEarly) {
            EXPECT_EQ(frameReads, static_cast<int>(c.request.size())) << c.what;
            EXPECT_EQ(line.protocol->getSuccessCounter(), 1u) << c.what;
            EXPECT_EQ(line.device.writes.size(), 1u) << c.what;
        } else {
            // The extra byte became part of the frame, whose CRC then fails.
            EXPECT_EQ(line.device.count(Call::purge), 0) << c.what;
            EXPECT_EQ(line.protocol->getSuccessCounter(), 0u) << c.what;
        }
    }
}

TEST(RtuFrames, AByteCountNotYetReceivedCannotEndTheFrameEarly) {
    FakeRtuLine line({7});
    // An earlier frame leaves byte 6 = 0 behind: 0 + 9 would end the next
    // write-multiple request at 9 bytes if its own count byte were ignored.
    line.receive(withCrc({0x07, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00}));
    line.protocol->serverLoop();
    line.device.writes.clear();
    const Bytes request =
        withCrc({0x07, 0x10, 0x00, 0x00, 0x00, 0x02, 0x04, 0x00, 0x01, 0x00, 0x02});
    line.receive(request);
    EXPECT_EQ(line.protocol->serverLoop(), MB_OK);
    ASSERT_EQ(line.device.writes.size(), 1u);
    EXPECT_EQ(line.device.writes[0], withCrc({0x07, 0x10, 0x00, 0x00, 0x00, 0x02}));
    EXPECT_EQ(line.tables[7].registers[2], 2);
}

TEST(RtuFrames, TheReplyWaitsUntilTheLineHasBeenSilent) {
    FakeRtuLine line({1});
    const Bytes request = withCrc({0x01, 0x06, 0x00, 0x04, 0x12, 0x34});
    for (std::uint8_t byte : request) line.device.input.push_back(byte);
    // Noise after the complete frame: every byte restarts the wait.
    line.device.queue({0xAA, 0xBB, 0xCC, FakeSerialDevice::kSilence});
    EXPECT_EQ(line.protocol->serverLoop(), MB_OK);
    const std::vector<Call> expected = {
        Call::readByte, Call::readByte, Call::readByte, Call::readByte, Call::readByte,
        Call::readByte, Call::readByte, Call::readByte,  // the 8-byte frame
        Call::purge,                                     // start of the reply
        Call::readByte, Call::readByte, Call::readByte,  // noise, discarded
        Call::readByte,                                  // one silent interval
        Call::write, Call::drain,
    };
    EXPECT_EQ(line.device.calls(), expected);
    ASSERT_EQ(line.device.writes.size(), 1u);
    EXPECT_EQ(line.device.writes[0], request);  // a single write echoes the request
    EXPECT_EQ(line.device.writeTimeouts[0], 1000u);
    EXPECT_EQ(line.tables[1].registers[5], 0x1234);
    const auto& timeouts = line.device.readTimeouts;
    for (std::size_t i = 8; i < timeouts.size(); ++i) EXPECT_EQ(timeouts[i], 2292u) << i;
}

TEST(RtuFrames, FailuresOfTheLine) {
    struct Case {
        const char* what;
        std::vector<int> input;
        DeviceResult endOfInput;
        int expected;
        std::uint32_t total;
    };
    const Case cases[] = {
        {"nothing within the time-out", {}, DeviceResult::timeout, MB_OK, 0},
        {"first read fails", {}, DeviceResult::ioError, MB_ERR_IO, 0},
        {"read fails inside a frame", {0x01, 0x03, 0x00}, DeviceResult::ioError, MB_ERR_IO, 0},
    };
    for (const Case& c : cases) {
        FakeRtuLine line({1});
        line.device.input.assign(c.input.begin(), c.input.end());
        line.device.endOfInput = c.endOfInput;
        EXPECT_EQ(line.protocol->serverLoop(), c.expected) << c.what;
        EXPECT_EQ(line.protocol->getTotalCounter(), c.total) << c.what;
        EXPECT_TRUE(line.device.writes.empty()) << c.what;
        EXPECT_TRUE(line.protocol->isStarted()) << c.what;
    }

    // A reply that cannot go out is not reported; the request counts as served.
    FakeRtuLine line({1});
    line.device.writeResult = DeviceResult::timeout;
    line.receive(withCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x01}));
    EXPECT_EQ(line.protocol->serverLoop(), MB_OK);
    EXPECT_EQ(line.protocol->getSuccessCounter(), 1u);

    // A reply without room for its CRC in the frame buffer is refused, never
    // written past the buffer.
    for (int length : {254, 255, 256}) {
        FakeRtuLine guarded({1});
        const bool fits = length <= 254;
        EXPECT_EQ(guarded.protocol->sendReply(length), fits ? MB_OK : MB_ERR_IO) << length;
        EXPECT_EQ(guarded.device.writes.size(), fits ? 1u : 0u) << length;
    }
}

TEST(RtuFrames, ExceptionRepliesDisabledSendNothingButCount) {
    FakeRtuLine line({1});
    line.protocol->disableExceptionReplies();
    line.receive(withCrc({0x01, 0x41}));
    line.receive(withCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x01}));
    EXPECT_EQ(line.protocol->serverLoop(), MB_OK);
    EXPECT_TRUE(line.device.writes.empty());
    EXPECT_EQ(line.protocol->serverLoop(), MB_OK);
    EXPECT_EQ(line.device.writes.size(), 1u);
    EXPECT_EQ(line.protocol->getTotalCounter(), 2u);
    EXPECT_EQ(line.protocol->getSuccessCounter(), 2u);
}

TEST(RtuBroadcast, CarriedOutByEveryConfiguredAddressWithoutReply) {
    FakeClock::set(50000);
    FakeRtuLine line({1, 2, 100, 254, 255});
    line.tables[2].refused = {"writeHoldingRegisters"};  // one address refusing stops nobody
    FakeClock::advance(900);
    line.receive(withCrc({0x00, 0x10, 0x00, 0x09, 0x00, 0x02, 0x04, 0xAB, 0xCD, 0x12, 0x34}));
    EXPECT_EQ(line.protocol->serverLoop(), MB_OK);

    EXPECT_TRUE(line.device.writes.empty());
    EXPECT_EQ(line.device.count(Call::purge), 0);
    for (int address : {1, 100, 254}) {
        const test::RecordingTable& table = line.tables[address];
        const std::vector<test::Call> accesses = table.accesses();
        ASSERT_EQ(accesses.size(), 1u) << address;
        EXPECT_EQ(accesses[0].operation, "writeHoldingRegisters");
        EXPECT_EQ(accesses[0].contextAddress, 0) << address;
        EXPECT_EQ(table.registers[10], 0xABCD) << address;
        EXPECT_EQ(table.registers[11], 0x1234) << address;
    }
    EXPECT_EQ(line.tables[2].accesses().size(), 1u);
    EXPECT_TRUE(line.tables[255].accesses().empty());
    EXPECT_EQ(line.protocol->getRequestInfo().slaveAddress, 0);
    EXPECT_EQ(line.protocol->getTotalCounter(), 1u);
    EXPECT_EQ(line.protocol->getSuccessCounter(), 1u);
    EXPECT_EQ(line.protocol->getConnectionStatus(), 1);

    // Every address 1..254 got a fresh time-out period, configured or not.
    for (int address = 1; address <= 254; ++address) {
        const Timer& timer = line.protocol->addressTimers[address];
        EXPECT_EQ(timer.startTick(), 50900u) << address;
        EXPECT_EQ(timer.duration(), 1000u) << address;
    }
    EXPECT_EQ(line.protocol->addressTimers[255].startTick(), 50000u);
    FakeClock::advance(500);  // 1400 ms after the tables were installed
    EXPECT_EQ(line.protocol->serverLoop(), MB_OK);
    EXPECT_EQ(line.tables[1].timeOuts, 0);
    FakeClock::advance(500);
    EXPECT_EQ(line.protocol->serverLoop(), MB_OK);
    EXPECT_EQ(line.tables[1].timeOuts, 1);
    EXPECT_EQ(line.tables[255].timeOuts, 0);  // never supervised
}

TEST(RtuBroadcast, ReadsAndShortFramesAreCarriedOutWithoutReplyToo) {
    FakeRtuLine line({3, 4});
    line.receive(withCrc({0x00, 0x03, 0x00, 0x00, 0x00, 0x01}));
    line.receive(withCrc({0x00, 0x41}));
    line.receive(withCrc({0x00, 0x03, 0x00}));  // 5 bytes: exception 3 for each
    for (int pass = 0; pass < 3; ++pass) EXPECT_EQ(line.protocol->serverLoop(), MB_OK);
    EXPECT_TRUE(line.device.writes.empty());
    EXPECT_EQ(line.tables[3].accesses().size(), 1u);
    EXPECT_EQ(line.tables[4].accesses().size(), 1u);
    EXPECT_EQ(line.protocol->getSuccessCounter(), 3u);
}

TEST(RtuFrames, RequestContextShowsAddressAndPort) {
    FakeRtuLine line({42});
    line.receive(withCrc({0x2A, 0x01, 0x00, 0x00, 0x00, 0x01}));
    EXPECT_EQ(line.protocol->serverLoop(), MB_OK);
    ASSERT_EQ(line.tables[42].accesses().size(), 1u);
    EXPECT_EQ(line.tables[42].accesses()[0].contextAddress, 42);
    const RequestInfo& info = line.protocol->getRequestInfo();
    EXPECT_EQ(info.protocolType, MB_PROTOCOL_RTU);
    EXPECT_STREQ(info.peerName, "COM1");
    EXPECT_EQ(line.device.openedPath, mbslave::test::comDevice(1));
}

}  // namespace
}  // namespace mbslave

// The ASCII server loop on a scripted fake line: framing characters, digit
// limits, LRC, broadcast, replies and the per-character time-out.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "api/protocol_handle.hpp"
#include "ascii_test_support.hpp"

namespace mbslave {
namespace {

using platform::DeviceResult;
using test::asciiFrame;
using test::Bytes;
using test::FakeAsciiLine;
using test::FakeSerialDevice;
using test::written;
using Call = FakeSerialDevice::Call;

// Diagnostics "return query data" from address 1 with n data bytes.
Bytes echoMessage(int dataBytes) {
    Bytes message{0x01, 0x08, 0x00, 0x00};
    for (int i = 0; i < dataBytes; ++i) message.push_back(static_cast<std::uint8_t>(i * 3 + 5));
    return message;
}

// The frame with one more digit before CR LF (an odd count).
std::string withOddDigit(std::string frame) { return frame.insert(frame.size() - 2, "7"); }

const Bytes kReadTen = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A};

Bytes readTenReply() {
    Bytes reply{0x01, 0x03, 0x14};
    for (int i = 1; i <= 10; ++i) {
        reply.push_back(0x00);
        reply.push_back(static_cast<std::uint8_t>(i));
    }
    return reply;
}

struct TextCase {
    const char* what;
    std::string received;  // then silence
    std::string sent;      // empty: no reply
    std::uint32_t total, success;
};

TEST(AsciiFrames, FramingCharactersLimitsAndCounting) {
    const std::string read = ":01030000000AF2\r\n";
    ASSERT_EQ(read, asciiFrame(kReadTen));
    const std::string reply = asciiFrame(readTenReply());
    const std::string echo254 = asciiFrame(echoMessage(250));  // 510 digits
    const std::string echo255 = asciiFrame(echoMessage(251));  // 512 digits
    const TextCase cases[] = {
        {"read 10 registers", read, reply, 1, 1},
        {"lower-case digits", ":01030000000af2\r\n", "", 1, 0},
        {"lower-case LRC", ":01030000000Af2\r\n", "", 1, 0},
        {"noise before the colon", std::string("xyz\n\r\x00 0103", 11) + read, reply, 1, 1},
        {"CR in the middle", ":010300\r00000AF2\r\n", reply, 1, 1},
        {"CR only, no LF", ":01030000000AF2\r", "", 1, 0},
        {"second colon restarts", ":0103" + read, reply, 2, 1},
        {"flood of colons", ":::::" + read, reply, 6, 1},
        {"no LF before the next colon", read.substr(0, 15) + ":", "", 2, 0},
        {"wrong LRC", ":01030000000AF3\r\n", "", 1, 0},
        {"space inside", ":0103 0000000AF2\r\n", "", 1, 0},
        {"letter G inside", ":0103G000000AF2\r\n", "", 1, 0},
        {"address without table", asciiFrame({0x05, 0x03, 0x00, 0x00, 0x00, 0x0A}), "", 1, 0},
        {"no digits", ":\r\n", "", 1, 0},
        {"1 digit", ":0\r\n", "", 1, 0},
        {"2 digits", ":01\r\n", "", 1, 0},
        {"3 digits", ":01F\r\n", "", 1, 0},
        // An address and its LRC carry no function code: function code 0.
        {"4 digits", ":01FF\r\n", asciiFrame({0x01, 0x80, 0x01}), 1, 1},
        {"5 digits", ":01FF0\r\n", asciiFrame({0x01, 0x80, 0x01}), 1, 1},
        {"511 digits, echo of 254 bytes", withOddDigit(echo254), echo254, 1, 1},
        // 255 message bytes: their echo would not fit a reply.
        {"512 digits", echo255, asciiFrame({0x01, 0x88, 0x03}), 1, 1},
        {"513 digits", withOddDigit(echo255), asciiFrame({0x01, 0x88, 0x03}), 1, 1},
        {"514 digits", withOddDigit(withOddDigit(echo255)), "", 1, 0},
        {"600 digits", ":" + std::string(600, '1') + "\r\n", "", 1, 0},
        {"nothing but noise", "hello\r\nworld\n", "", 0, 0},
    };
    for (const TextCase& c : cases) {
        FakeAsciiLine line({1, 17});
        ASSERT_EQ(line.started, MB_OK);
        for (int i = 1; i <= 10; ++i) line.tables[1].registers[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(i);
        line.receive(c.received);
        EXPECT_EQ(line.protocol->serverLoop(), MB_OK) << c.what;
        if (c.sent.empty()) {
            EXPECT_TRUE(line.device.writes.empty()) << c.what;
        } else {
            ASSERT_EQ(line.device.writes.size(), 1u) << c.what;
            EXPECT_EQ(written(line.device.writes[0]), c.sent) << c.what;
        }
        EXPECT_EQ(line.protocol->getTotalCounter(), c.total) << c.what;
        EXPECT_EQ(line.protocol->getSuccessCounter(), c.success) << c.what;
    }
}

TEST(AsciiFrames, TheLongestReplies) {
    // 125 registers: 2 x 253 + 5 characters.
    FakeAsciiLine line({1});
    line.receive(asciiFrame({0x01, 0x03, 0x00, 0x00, 0x00, 0x7D}));
    EXPECT_EQ(line.protocol->serverLoop(), MB_OK);
    ASSERT_EQ(line.device.writes.size(), 1u);
    const std::string reply = written(line.device.writes[0]);
    EXPECT_EQ(reply.size(), 511u);
    EXPECT_EQ(reply.substr(0, 7), ":0103FA");
    EXPECT_EQ(reply.substr(509), "\r\n");
    EXPECT_EQ(reply.find_first_not_of("0123456789ABCDEF", 1), 509u);
}

TEST(AsciiFrames, EveryCharacterGetsTheProtocolTimeOut) {
    FakeAsciiLine line({1});
    line.protocol->setTimeout(250);
    // A pause inside the frame drops it; its rest is ignored without a colon.
    line.device.queue({':', '0', '1', '0', '3', FakeSerialDevice::kSilence});
    line.receive(std::string("0000000AF2\r\n"));
    EXPECT_EQ(line.protocol->serverLoop(), MB_OK);
    EXPECT_EQ(line.protocol->getTotalCounter(), 1u);
    EXPECT_EQ(line.protocol->serverLoop(), MB_OK);
    EXPECT_TRUE(line.device.writes.empty());
    EXPECT_EQ(line.protocol->getSuccessCounter(), 0u);
    EXPECT_EQ(line.device.readTimeouts.size(), 19u);  // 5 + 12 characters, 2 silences
    for (std::uint32_t timeout : line.device.readTimeouts) EXPECT_EQ(timeout, 250000u);
}

TEST(AsciiFrames, ReplyGoesOutWithoutWaitingForSilence) {
    FakeAsciiLine line({1}, 9600, 7);  // 7 data bits are fine for ASCII
    ASSERT_EQ(line.started, MB_OK);
    line.receive(asciiFrame(kReadTen));
    EXPECT_EQ(line.protocol->serverLoop(), MB_OK);
    std::vector<Call> calls = line.device.calls();
    ASSERT_GE(calls.size(), 3u);
    const std::vector<Call> tail(calls.end() - 3, calls.end());
    EXPECT_EQ(tail, (std::vector<Call>{Call::purge, Call::write, Call::drain}));
    EXPECT_EQ(line.device.count(Call::readByte), 17);  // the frame, no silence wait
}

TEST(AsciiFrames, FailuresOfTheLine) {
    FakeAsciiLine line({1});
    line.device.queue({':', '0', '1'});
    line.device.endOfInput = DeviceResult::ioError;
    EXPECT_EQ(line.protocol->serverLoop(), MB_ERR_IO);
    EXPECT_TRUE(line.device.writes.empty());
    EXPECT_TRUE(line.protocol->isStarted());

    FakeAsciiLine failingWrite({1});
    failingWrite.device.writeResult = DeviceResult::ioError;
    failingWrite.receive(asciiFrame(kReadTen));
    EXPECT_EQ(failingWrite.protocol->serverLoop(), MB_OK);
    EXPECT_EQ(failingWrite.protocol->getSuccessCounter(), 1u);
}

TEST(AsciiBroadcast, CarriedOutByEveryConfiguredAddressWithoutReply) {
    test::FakeClock::set(7000);
    FakeAsciiLine line({1, 17, 254, 255});
    line.receive(asciiFrame({0x00, 0x0F, 0x00, 0x00, 0x00, 0x03, 0x01, 0x05}));
    EXPECT_EQ(line.protocol->serverLoop(), MB_OK);
    EXPECT_TRUE(line.device.writes.empty());
    for (int address : {1, 17, 254}) {
        const test::RecordingTable& table = line.tables[address];
        const std::vector<test::Call> accesses = table.accesses();
        ASSERT_EQ(accesses.size(), 1u) << address;
        EXPECT_EQ(accesses[0].operation, "writeCoils");
        EXPECT_EQ(accesses[0].contextAddress, 0);
        EXPECT_EQ(table.bits[1], 1);
        EXPECT_EQ(table.bits[2], 0);
        EXPECT_EQ(table.bits[3], 1);
    }
    EXPECT_TRUE(line.tables[255].accesses().empty());
    EXPECT_EQ(line.protocol->getSuccessCounter(), 1u);
    EXPECT_EQ(line.protocol->getConnectionStatus(), 1);
    for (int address = 1; address <= 254; ++address) {
        EXPECT_EQ(line.protocol->addressTimers[address].duration(), 1000u) << address;
    }
}

TEST(AsciiExports, CreateGivesAStoppedAsciiHandle) {
    MbusSlaveHandle* ascii = mbusSlave_createAsciiProtocol();
    ASSERT_NE(ascii, nullptr);
    EXPECT_EQ(mbusSlave_isStarted(ascii), 0);
    EXPECT_EQ(toHandle(ascii)->protocol->getRequestInfo().protocolType, MB_PROTOCOL_ASCII);
    EXPECT_EQ(mbusSlave_serverLoop(ascii), MB_ERR_ILLEGAL_STATE);
    // Frame tolerance belongs to RTU handles only.
    EXPECT_EQ(mbusSlave_setFrameTolerance(ascii, 5), MB_ERR_ILLEGAL_STATE);
    mbusSlave_destroyProtocol(ascii);
}

}  // namespace
}  // namespace mbslave

// ASCII handles on pseudo-terminal pairs through the C interface, driven
// character by character from the master side.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "ascii_test_support.hpp"
#include "support/pty_slave.hpp"

namespace mbslave {
namespace {

using std::chrono::milliseconds;
using test::asciiFrame;
using test::Bytes;
using test::ptyApp;

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::string receiveText(test::PtySlave& slave, std::size_t count, milliseconds limit) {
    const Bytes bytes = slave.pty.receive(count, limit);
    return std::string(bytes.begin(), bytes.end());
}

TEST(AsciiPty, ARequestSentCharacterByCharacterIsAnswered) {
    struct Case {
        int baudRate, dataBits, gapMs;  // a pty runs 8 data bits only
    };
    for (const Case& c : {Case{9600, 8, 2}, Case{115200, 8, 0}, Case{19200, 8, 20}}) {
        test::PtySlave slave(mbusSlave_createAsciiProtocol());
        ASSERT_EQ(slave.start(c.baudRate, c.dataBits), MB_OK) << c.baudRate;
        // A loaded machine may hold the sender back between characters:
        // only a pause longer than the time-out may drop the frame.
        ASSERT_EQ(mbusSlave_setTimeout(slave.handle.get(), 2000), MB_OK);
        ptyApp.registers[1][5] = 0xA1B2;
        const std::string request = asciiFrame({0x01, 0x03, 0x00, 0x04, 0x00, 0x01});
        std::thread master([&] {
            for (char character : request) {
                slave.pty.send({static_cast<std::uint8_t>(character)});
                if (c.gapMs > 0) std::this_thread::sleep_for(milliseconds(c.gapMs));
            }
        });
        EXPECT_TRUE(slave.serveUntilTotal(1));
        EXPECT_EQ(mbusSlave_serverLoop(slave.handle.get()), MB_OK);  // the frame's end
        master.join();
        const std::string reply = asciiFrame({0x01, 0x03, 0x02, 0xA1, 0xB2});
        EXPECT_EQ(receiveText(slave, reply.size(), milliseconds(1000)), reply) << c.baudRate;
        EXPECT_EQ(slave.success(), 1u) << c.baudRate;
    }
}

TEST(AsciiPty, APauseLongerThanTheTimeOutDropsTheFrame) {
    test::PtySlave slave(mbusSlave_createAsciiProtocol());  // 100 ms time-out
    ASSERT_EQ(slave.start(9600), MB_OK);
    const std::string request = asciiFrame({0x01, 0x03, 0x00, 0x00, 0x00, 0x01});
    std::atomic<bool> sent{false};
    std::thread master([&] {
        slave.pty.send(bytesOf(request.substr(0, 7)));
        std::this_thread::sleep_for(milliseconds(400));
        slave.pty.send(bytesOf(request.substr(7)));
        sent = true;
    });
    // Passes until the whole text was sent, however late a busy machine
    // lets the sender run, then two more for what it left on the line.
    while (!sent) EXPECT_EQ(mbusSlave_serverLoop(slave.handle.get()), MB_OK);
    master.join();
    for (int pass = 0; pass < 2; ++pass) EXPECT_EQ(mbusSlave_serverLoop(slave.handle.get()), MB_OK);
    EXPECT_TRUE(slave.pty.receive(1, milliseconds(100)).empty());
    EXPECT_EQ(slave.total(), 1u);
    EXPECT_EQ(slave.success(), 0u);
    EXPECT_EQ(ptyApp.reads, 0);
}

TEST(AsciiPty, HundredTwentyFiveRegistersMakeA511CharacterReply) {
    test::PtySlave slave(mbusSlave_createAsciiProtocol());
    ASSERT_EQ(slave.start(115200), MB_OK);
    Bytes expected{0x01, 0x03, 0xFA};
    for (int i = 0; i < 125; ++i) {
        ptyApp.registers[1][static_cast<std::size_t>(i + 1)] = static_cast<std::uint16_t>(i * 0x0101);
        expected.push_back(static_cast<std::uint8_t>(i));
        expected.push_back(static_cast<std::uint8_t>(i));
    }
    slave.pty.send(bytesOf(asciiFrame({0x01, 0x03, 0x00, 0x00, 0x00, 0x7D})));
    ASSERT_TRUE(slave.serveUntilTotal(1));
    const std::string reply = receiveText(slave, 600, milliseconds(500));
    EXPECT_EQ(reply.size(), 511u);
    EXPECT_EQ(reply, asciiFrame(expected));
}

TEST(AsciiPty, BroadcastIsCarriedOutWithoutReply) {
    test::PtySlave slave(mbusSlave_createAsciiProtocol());
    ASSERT_EQ(slave.start(19200), MB_OK);
    slave.pty.send(bytesOf(asciiFrame({0x00, 0x05, 0x00, 0x07, 0xFF, 0x00})));
    ASSERT_TRUE(slave.serveUntilTotal(1));
    EXPECT_TRUE(slave.pty.receive(1, milliseconds(100)).empty());
    for (std::size_t address : {1u, 17u, 254u}) {
        EXPECT_EQ(ptyApp.writes[address], 1) << address;
        EXPECT_EQ(ptyApp.coils[address][8], 1) << address;
        EXPECT_EQ(ptyApp.contextAddress[address], 0) << address;
    }
    EXPECT_EQ(ptyApp.writes[255], 0);
    EXPECT_EQ(slave.success(), 1u);
}

}  // namespace
}  // namespace mbslave

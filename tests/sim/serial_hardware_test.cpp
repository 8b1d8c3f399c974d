#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "serial_hardware.hpp"

namespace sim {
namespace {

namespace fs = std::filesystem;

// The frame tolerance an RTU server gets from what sysfs says of its device.
TEST(SimSerialHardware, ToleranceFollowsTheLatencyTimerOrTheReceiveTrigger) {
    struct Case {
        const char* what;
        std::string device;
        std::string sysFile;  // below the sysfs root, empty: none
        std::string value;
        int baud;
        int parity;
        std::optional<std::uint32_t> given;
        std::uint32_t expected;
        const char* says;
    };
    const std::string usb = "bus/usb-serial/devices/ttyUSB0/latency_timer";
    const Case cases[] = {
        {"FTDI default at 19200", "/dev/ttyUSB0", usb, "16", 19200, 2, {}, 14, "USB adapter, latency timer 16 ms"},
        {"FTDI default at 9600", "/dev/ttyUSB0", usb, "16", 9600, 2, {}, 12, "latency timer 16 ms"},
        {"FTDI at 1 ms, 115200", "/dev/ttyUSB0", usb, "1", 115200, 0, {}, 0, "latency timer 1 ms"},
        {"timer too long", "/dev/ttyUSB0", usb, "32", 9600, 2, {}, 20, "not enough"},
        {"16550 trigger 8", "/dev/ttyS0", "class/tty/ttyS0/rx_trig_bytes", "8", 9600, 2, {}, 9,
         "UART, receive trigger 8 bytes"},
        {"COM2 is ttyS1", "COM2", "class/tty/ttyS1/rx_trig_bytes", "14", 9600, 2, {}, 15, "trigger 14 bytes"},
        {"trigger 1, no parity", "/dev/ttyS0", "class/tty/ttyS0/rx_trig_bytes", "1", 9600, 0, {}, 0, "trigger 1"},
        {"nothing in sysfs", "/dev/ttyS4", "", "", 9600, 2, {}, 0, "no latency timer or receive trigger"},
        {"--tolerance wins", "/dev/ttyUSB0", usb, "16", 9600, 2, 3u, 3, "3 ms (--tolerance)"},
    };
    const fs::path root = fs::temp_directory_path() / ("mbslave-sysfs-" + std::to_string(::getpid()));
    for (const Case& c : cases) {
        fs::remove_all(root);
        fs::create_directories(root);
        if (!c.sysFile.empty()) {
            fs::create_directories((root / c.sysFile).parent_path());
            std::ofstream(root / c.sysFile) << c.value << "\n";
        }
        SimOptions options;
        options.transport = Transport::Rtu;
        options.device = c.device;
        options.baud = c.baud;
        options.parity = c.parity;
        options.frameToleranceMs = c.given;
        const std::string said = resolveFrameTolerance(options, root.string());
        EXPECT_EQ(options.frameToleranceMs, std::optional<std::uint32_t>(c.expected)) << c.what;
        EXPECT_NE(said.find("frame tolerance " + std::to_string(c.expected) + " ms"), std::string::npos)
            << c.what << ": " << said;
        EXPECT_NE(said.find(c.says), std::string::npos) << c.what << ": " << said;
    }
    fs::remove_all(root);

    SimOptions ascii;
    ascii.transport = Transport::Ascii;
    EXPECT_EQ(resolveFrameTolerance(ascii, "/nonexistent"), "");
    EXPECT_FALSE(ascii.frameToleranceMs);
}

// Without sysfs (Windows) the tolerance covers the two likeliest
// hand-overs at their defaults, whichever needs more.
TEST(SimSerialHardware, WindowsDefaultsTakeTheLargerOfUartAndUsbAdapter) {
    struct Case {
        int baud, parity, stopBits;
        std::uint32_t expected;  // uart trigger 14 vs latency timer 16 ms
        bool enough;
    };
    const Case cases[] = {
        {9600, 2, 1, 15, true},    // the UART's 17 character times: 15 vs 12
        {19200, 2, 1, 14, true},   // the latency timer: 8 vs 14
        {115200, 0, 1, 14, true},  // 0 vs 14
        {1200, 2, 1, 20, false},   // the UART needs 120 ms
    };
    for (const Case& c : cases) {
        SimOptions options;
        options.transport = Transport::Rtu;
        options.device = "COM3";
        options.baud = c.baud;
        options.parity = c.parity;
        options.stopBits = c.stopBits;
        const std::string said = windowsDefaultFrameTolerance(options);
        EXPECT_EQ(options.frameToleranceMs, std::optional<std::uint32_t>(c.expected)) << c.baud;
        EXPECT_NE(said.find("frame tolerance " + std::to_string(c.expected) + " ms"), std::string::npos) << said;
        EXPECT_NE(said.find("receive trigger 14 bytes of serial.sys"), std::string::npos) << said;
        EXPECT_NE(said.find("latency timer 16 ms of FTDI"), std::string::npos) << said;
        EXPECT_EQ(said.find("not enough") == std::string::npos, c.enough) << said;
    }
}

}  // namespace
}  // namespace sim

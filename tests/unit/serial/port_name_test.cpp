#include <gtest/gtest.h>

#include <string>

#include "platform/serial_port_name.hpp"
#include "serial/wide_text.hpp"

namespace mbslave {
namespace {

struct PortNameCase {
    const char* portName;
    const char* devicePath;
};

TEST(SerialDevicePath, ComNamesMapToTtySAndOthersStayUnchanged) {
    const PortNameCase cases[] = {
        {"COM1", "/dev/ttyS0"},
        {"com3", "/dev/ttyS2"},
        {"CoM12", "/dev/ttyS11"},
        {"COM1:", "/dev/ttyS0"},
        {"COM99999", "/dev/ttyS99998"},
        {"COM99999:", "/dev/ttyS99998"},
        {"COM007", "/dev/ttyS6"},
        {"COM", "COM"},
        {"COM123456", "COM123456"},
        {"COM0", "COM0"},
        {"COM1::", "COM1::"},
        {"COM1x", "COM1x"},
        {"COM:", "COM:"},
        {"COMx1", "COMx1"},
        {"CO", "CO"},
        {"", ""},
        {"/dev/ttyUSB0", "/dev/ttyUSB0"},
        {"/dev/pts/3", "/dev/pts/3"},
        {"\\$device\\COM1", "\\$device\\COM1"},
    };
    for (const PortNameCase& c : cases) {
        platform::DevicePathBuffer buffer{};
        EXPECT_STREQ(platform::serialDevicePath(c.portName, buffer), c.devicePath) << c.portName;
    }
}

TEST(SerialDevicePath, UnchangedNamesAreTheCallersOwnText) {
    platform::DevicePathBuffer buffer{};
    const char* name = "/dev/ttyUSB0";
    EXPECT_EQ(platform::serialDevicePath(name, buffer), name);
}

struct WideCase {
    std::u16string wide;
    std::string utf8;
};

TEST(ToUtf8, ConvertsEveryUtf16TextWhole) {
    const WideCase cases[] = {
        {u"", ""},
        {u"COM1", "COM1"},
        {u"/dev/tty\u00e9", "/dev/tty\xc3\xa9"},
        {u"\u4e2d\u6587", "\xe4\xb8\xad\xe6\x96\x87"},
        {u"\U0001F600", "\xf0\x9f\x98\x80"},
        {std::u16string(1, char16_t(0xD800)), "\xef\xbf\xbd"},         // lone high surrogate
        {std::u16string{char16_t(0xDC00), u'A'}, "\xef\xbf\xbd" "A"},  // lone low surrogate
        {std::u16string(300, u'\u20ac'), [] {
             std::string s;
             for (int i = 0; i < 300; ++i) s += "\xe2\x82\xac";
             return s;
         }()},
    };
    for (const WideCase& c : cases) {
        auto utf8 = toUtf8(c.wide.c_str());
        ASSERT_NE(utf8, nullptr);
        EXPECT_EQ(std::string(utf8.get()), c.utf8);
    }
}

TEST(ToUtf8, NullTextIsEmpty) {
    auto utf8 = toUtf8(nullptr);
    ASSERT_NE(utf8, nullptr);
    EXPECT_STREQ(utf8.get(), "");
}

}  // namespace
}  // namespace mbslave

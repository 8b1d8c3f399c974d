#include <gtest/gtest.h>

#include <string>

#include "mbslave.h"
#include "support/wide_literal.hpp"

namespace {

std::u16string text(int code) { return mbslave::test::utf16(mbusSlave_getErrorText(code)); }

struct TextCase {
    int code;
    const char16_t* text;
};

TEST(ErrorTexts, EveryCodeHasItsText) {
    const TextCase cases[] = {
        {0, u"Operation was successful"},
        {1, u"Illegal argument error"},
        {2, u"Illegal state error"},
        {4, u"No data table configured"},
        {5, u"Slave address 0 is illegal in this context"},
        {0x40, u"I/O error class"},
        {0x41, u"I/O error"},
        {0x42, u"Port or socket open error"},
        {0x43, u"Serial port already open"},
        {0x44, u"TCP/IP connection error"},
        {0x45, u"TCP/IP connection was closed by remote peer"},
        {0x46, u"Socket library error"},
        {0x47, u"TCP Port alread bound"},
        {0x48, u"Listen failed"},
        {0x49, u"File descriptors exceeded"},
        {0x4A, u"No permission to access serial or TCP port"},
        {0x4B, u"TCP Port not available"},
        {0x80, u"Fieldbus protocol error class"},
        {0x81, u"Checksum error"},
        {0x82, u"Invalid frame error"},
        {0x83, u"Invalid reply error"},
        {0x84, u"Reply time-out"},
        {0x85, u"Send time-out"},
        {0x86, u"Invalid MPAB identifier"},
        {0x87, u"Serial line error"},
        {0xA0, u"Modbus exception response"},
        {0xA1, u"Illegal Function exception response"},
        {0xA2, u"Illegal Data Address exception response"},
        {0xA3, u"Illegal Data Value exception response"},
        {0xA4, u"Slave Device Failure exception response"},
        {0xAA, u"Gateway Path Unavailable exception response"},
        {0xAB, u"Gateway Target Device Failed exception response"},
    };
    for (const TextCase& c : cases) EXPECT_EQ(text(c.code), c.text) << "code " << c.code;
}

TEST(ErrorTexts, CodesOutsideTheTableAreUnknown) {
    for (int code : {3, 6, 0x3F, 0x4C, 0x7F, 0x88, 0xA5, 0xA6, 0xAC, 0x100, -1, -2, INT32_MIN,
                     INT32_MAX}) {
        EXPECT_EQ(text(code), u"Unknown error") << "code " << code;
    }
}

TEST(ErrorTexts, PointersAreStable) {
    for (int code : {0, 0x47, 0xAB, 12345}) {
        EXPECT_EQ(mbusSlave_getErrorText(code), mbusSlave_getErrorText(code));
    }
}

TEST(PackageVersion, IsConstantText) {
    EXPECT_EQ(mbslave::test::utf16(mbusSlave_getPackageVersion()), u"2.11.0.0");
    EXPECT_EQ(mbusSlave_getPackageVersion(), mbusSlave_getPackageVersion());
}

}  // namespace

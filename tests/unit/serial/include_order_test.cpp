// A Windows program gets the parity it names whether it includes mbslave.h
// before or after <windows.h> (whose PARITY_ macros carry other values).
#include <gtest/gtest.h>

#include "serial/serial_port.hpp"
#include "support/fake_serial_device.hpp"

extern "C" void mbslaveParitiesHeaderFirst(int parities[3]);
extern "C" void mbslaveParitiesWindowsFirst(int parities[3]);

namespace mbslave {
namespace {

TEST(WindowsIncludeOrder, EitherOrderConfiguresTheNamedParity) {
    int headerFirst[3] = {};
    int windowsFirst[3] = {};
    mbslaveParitiesHeaderFirst(headerFirst);
    mbslaveParitiesWindowsFirst(windowsFirst);
    // The premise: <windows.h> after mbslave.h hides the header's values.
    EXPECT_EQ(headerFirst[2], 0x400);
    EXPECT_EQ(windowsFirst[2], 2);

    const platform::Parity expected[3] = {platform::Parity::none, platform::Parity::odd,
                                          platform::Parity::even};
    for (const int* parities : {headerFirst, windowsFirst}) {
        for (int which = 0; which < 3; ++which) {
            test::FakeSerialDevice device;
            SerialPort port;
            port.attachDevice(&device);
            ASSERT_EQ(port.open("COM3"), MB_OK);
            EXPECT_EQ(port.configure(9600, 8, 1, parities[which], HANDSHAKE_NONE), MB_OK) << parities[which];
            EXPECT_EQ(device.appliedSettings.back().parity, expected[which]) << parities[which];
        }
    }
}

}  // namespace
}  // namespace mbslave

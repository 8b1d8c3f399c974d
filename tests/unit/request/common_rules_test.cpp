// Rules shared by every function code: dispatch, requests without a function
// code, start references and the exception-reply policy.
#include <set>

#include "request_fixture.hpp"

namespace mbslave::test {
namespace {

using CommonRules = RequestTest;

const std::set<int> kServedCodes = {1, 2, 3, 4, 5, 6, 7, 8, 15, 16, 17, 20, 21, 22, 23, 43};

TEST_F(CommonRules, UnservedFunctionCodesGetIllegalFunction) {
    for (int code = 0; code < 256; ++code) {
        if (kServedCodes.count(code) != 0) continue;
        SCOPED_TRACE(code);
        table.calls.clear();
        // 0x81 stays 0x81: bit 7 is already set.
        expectException({kSlave, static_cast<std::uint8_t>(code), 0, 0, 0, 1}, 1);
        EXPECT_TRUE(table.calls.empty());
    }
}

TEST_F(CommonRules, RequestWithoutFunctionCodeIsAnsweredAsFunctionCodeZero) {
    for (int length : {0, 1}) {
        SCOPED_TRACE(length);
        // What an earlier, valid request left behind must not be served again.
        const Bytes earlier = {kSlave, 3, 0, 0, 0, 2};
        std::copy(earlier.begin(), earlier.end(), frame.begin());
        EXPECT_EQ(protocol.processRequest(frame.data(), length), 3);
        EXPECT_EQ(frame[1], 0x80);
        EXPECT_EQ(frame[2], 1);
        EXPECT_TRUE(table.calls.empty());
    }
}

TEST_F(CommonRules, RequestLongerThanAnyTransportDeliversIsRefused) {
    Bytes request(300, 0);
    request[0] = kSlave;
    request[1] = 8;  // an echo of this could not be sent
    std::array<std::uint8_t, 300> big{};
    std::copy(request.begin(), request.end(), big.begin());
    EXPECT_EQ(protocol.processRequest(big.data(), 300), 3);
    EXPECT_EQ(big[1], 0x88);
    EXPECT_EQ(big[2], 3);
}

TEST_F(CommonRules, AddressWithoutTableGetsNothing) {
    const Bytes request = {7, 3, 0, 0, 0, 1};
    EXPECT_EQ(run(request).length, 0);
}

struct ReferenceCase {
    const char* name;
    Bytes pduAfterAddress;  // function code and fields; address field = 0xFFFF
    const char* operation;
};

TEST_F(CommonRules, StartReferenceIsWireAddressPlusOne) {
    const ReferenceCase cases[] = {
        {"read coils", {1, 0xFF, 0xFF, 0, 1}, "readCoils"},
        {"read discretes", {2, 0xFF, 0xFF, 0, 1}, "readInputDiscretes"},
        {"read holding", {3, 0xFF, 0xFF, 0, 100}, "readHoldingRegisters"},
        {"read input", {4, 0xFF, 0xFF, 0, 100}, "readInputRegisters"},
        {"read 32-bit", {3, 0xFF, 0xFF, 0, 1}, "readRegisters32"},
        {"write coil", {5, 0xFF, 0xFF, 0xFF, 0}, "writeCoils"},
        {"write register", {6, 0xFF, 0xFF, 0, 0}, "writeHoldingRegisters"},
        {"write coils", {15, 0xFF, 0xFF, 0, 1, 1, 1}, "writeCoils"},
        {"write registers", {16, 0xFF, 0xFF, 0, 1, 2, 0, 0}, "writeHoldingRegisters"},
        {"write 32-bit", {16, 0xFF, 0xFF, 0, 1, 4, 0, 0, 0, 0}, "writeRegisters32"},
    };
    for (const ReferenceCase& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& [wire, reference] : {std::pair{0x0000, 1}, std::pair{0xFFFF, 65536}}) {
            table.calls.clear();
            Bytes request = {kSlave};
            request.insert(request.end(), c.pduAfterAddress.begin(), c.pduAfterAddress.end());
            request[2] = highByte(wire);
            request[3] = lowByte(wire);
            run(request);
            const Call* call = table.find(c.operation);
            ASSERT_NE(call, nullptr);
            EXPECT_EQ(call->args.at(0), reference);
            expectBalancedBrackets();
        }
    }
}

struct FilterCase {
    const char* name;
    Bytes request;
    int lengthWhenEnabled;
};

TEST_F(CommonRules, DisabledExceptionRepliesSuppressOnlyExceptions) {
    const FilterCase cases[] = {
        {"unknown function", {kSlave, 9, 0, 0}, 3},
        {"no function code", {kSlave}, 3},
        {"wrong length", {kSlave, 3, 0, 0, 0}, 3},
        {"quantity out of range", {kSlave, 3, 0, 0, 0, 0}, 3},
        {"refused by the table", {kSlave, 3, 0, 0, 0, 1}, 3},
        {"valid read", {kSlave, 4, 0, 0, 0, 2}, 7},
        {"valid echo", {kSlave, 6, 0, 9, 0x12, 0x34}, 6},
    };
    table.refused = {"readHoldingRegisters"};
    for (const FilterCase& c : cases) {
        SCOPED_TRACE(c.name);
        protocol.enableExceptionReplies();
        EXPECT_EQ(run(c.request).length, c.lengthWhenEnabled);
        const Bytes enabledFrame(frame.begin(), frame.begin() + 3);

        protocol.disableExceptionReplies();
        const int suppressed = run(c.request).length;
        EXPECT_EQ(suppressed, c.lengthWhenEnabled == 3 ? 0 : c.lengthWhenEnabled);
        // The buffer holds the same reply either way.
        EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 3), enabledFrame);
    }
}

}  // namespace
}  // namespace mbslave::test

// Read Coils (1), Read Discrete Inputs (2), Write Single Coil (5) and Write
// Multiple Coils (15).
#include "request_fixture.hpp"

namespace mbslave::test {
namespace {

using BitRequests = RequestTest;

struct ExceptionCase {
    const char* name;
    Bytes request;
    std::uint8_t exception;
};

// Packs bits the plain way, as the master expects them.
Bytes packed(const std::vector<char>& bits) {
    Bytes bytes((bits.size() + 7) / 8, 0);
    for (std::size_t i = 0; i < bits.size(); ++i) {
        if (bits[i] != 0) bytes[i / 8] = static_cast<std::uint8_t>(bytes[i / 8] | (1u << (i % 8)));
    }
    return bytes;
}

TEST_F(BitRequests, MalformedOrRefusedRequestsGetExceptions) {
    const ExceptionCase cases[] = {
        {"FC1 short", {kSlave, 1, 0, 0, 0}, 3},
        {"FC1 long", {kSlave, 1, 0, 0, 0, 1, 0}, 3},
        {"FC1 quantity 0", {kSlave, 1, 0, 0, 0, 0}, 2},
        {"FC1 quantity 2001", {kSlave, 1, 0, 0, highByte(2001), lowByte(2001)}, 2},
        {"FC1 quantity negative", {kSlave, 1, 0, 0, 0x80, 0x00}, 2},
        {"FC2 short", {kSlave, 2, 0, 0, 1}, 3},
        {"FC2 quantity 2001", {kSlave, 2, 0, 0, highByte(2001), lowByte(2001)}, 2},
        {"FC5 short", {kSlave, 5, 0, 0, 0xFF}, 3},
        {"FC5 value 0x1234", {kSlave, 5, 0, 0, 0x12, 0x34}, 3},
        {"FC5 value 0xFF01", {kSlave, 5, 0, 0, 0xFF, 0x01}, 3},
        {"FC5 value 0x00FF", {kSlave, 5, 0, 0, 0x00, 0xFF}, 3},
        {"FC15 too short for a byte count", {kSlave, 15, 0, 0, 0, 1}, 3},
        {"FC15 length not byte count + 7", {kSlave, 15, 0, 0, 0, 8, 1, 0xFF, 0}, 3},
        {"FC15 byte count not matching quantity", {kSlave, 15, 0, 0, 0, 9, 1, 0xFF}, 2},
        {"FC15 quantity 0", {kSlave, 15, 0, 0, 0, 0, 0}, 2},
        {"FC15 quantity negative", {kSlave, 15, 0, 0, 0xFF, 0xFF, 0}, 2},
    };
    for (const ExceptionCase& c : cases) {
        SCOPED_TRACE(c.name);
        table.calls.clear();
        expectException(c.request, c.exception);
        EXPECT_TRUE(operations().empty());  // nothing reached the table
    }
}

TEST_F(BitRequests, RefusalsGetIllegalDataAddress) {
    const ExceptionCase cases[] = {
        {"readCoils", {kSlave, 1, 0, 0, 0, 1}, 2},
        {"readInputDiscretes", {kSlave, 2, 0, 0, 0, 1}, 2},
        {"writeCoils", {kSlave, 5, 0, 0, 0xFF, 0}, 2},
        {"writeCoils", {kSlave, 15, 0, 0, 0, 1, 1, 1}, 2},
    };
    for (const ExceptionCase& c : cases) {
        SCOPED_TRACE(c.name);
        table.calls.clear();
        table.refused = {c.name};
        expectException(c.request, c.exception);
        EXPECT_EQ(table.sequence(), (std::vector<std::string>{"lock", c.name, "unlock"}));
    }
}

TEST_F(BitRequests, ReadCoilsPacksLeastSignificantBitFirst) {
    for (int quantity : {1, 7, 8, 9, 10, 63, 64, 65, 1999, 2000}) {
        SCOPED_TRACE(quantity);
        table.calls.clear();
        std::vector<char> expected(static_cast<std::size_t>(quantity));
        for (int i = 0; i < quantity; ++i) {
            // Any nonzero byte counts as ON.
            const char value = (i * 7 + quantity) % 3 == 0 ? 0 : static_cast<char>(1 + i % 200);
            table.bits[static_cast<std::size_t>(21 + i)] = value;
            expected[static_cast<std::size_t>(i)] = value;
        }
        const Reply reply = run({kSlave, 1, 0, 20, highByte(quantity), lowByte(quantity)});
        const Bytes data = packed(expected);
        ASSERT_EQ(reply.length, static_cast<int>(data.size()) + 3);
        EXPECT_EQ(reply.bytes[1], 1);
        EXPECT_EQ(reply.bytes[2], data.size());
        EXPECT_EQ(Bytes(reply.bytes.begin() + 3, reply.bytes.end()), data);
        EXPECT_EQ(table.calls.at(1).args, (std::vector<int>{21, quantity}));
        expectBalancedBrackets();
    }
}

TEST_F(BitRequests, TenCoilsClearTheUnusedHighBits) {
    for (int i = 0; i < 10; ++i) table.bits[static_cast<std::size_t>(1 + i)] = 1;
    const Reply reply = run({kSlave, 1, 0, 0, 0, 10});
    EXPECT_EQ(reply.bytes, (Bytes{kSlave, 1, 2, 0xFF, 0x03}));
}

TEST_F(BitRequests, ReadDiscreteInputsUsesItsOwnOperation) {
    // The table reports odd references ON (as the value 5).
    const Reply reply = run({kSlave, 2, 0, 0, 0, 12});
    EXPECT_EQ(reply.bytes, (Bytes{kSlave, 2, 2, 0x55, 0x05}));
    EXPECT_EQ(operations(), (std::vector<std::string>{"readInputDiscretes"}));
    expectBalancedBrackets();
}

TEST_F(BitRequests, WriteSingleCoilSendsExactlyOneOrZero) {
    const struct {
        std::uint8_t high;
        int written;
    } cases[] = {{0xFF, 1}, {0x00, 0}};
    for (const auto& c : cases) {
        table.calls.clear();
        const Bytes request = {kSlave, 5, 0x01, 0x00, c.high, 0x00};
        const Reply reply = run(request);
        EXPECT_EQ(reply.bytes, request);
        const Call* call = table.find("writeCoils");
        ASSERT_NE(call, nullptr);
        EXPECT_EQ(call->args, (std::vector<int>{0x101, 1}));
        EXPECT_EQ(call->values, std::vector<int>{c.written});
        expectBalancedBrackets();
    }
}

TEST_F(BitRequests, WriteMultipleCoilsUnpacksToZeroAndOne) {
    for (int quantity : {1, 8, 10, 17, 1984}) {
        SCOPED_TRACE(quantity);
        table.calls.clear();
        const int byteCount = (quantity + 7) / 8;
        Bytes request = {kSlave, 15, 0x00, 0x13, highByte(quantity), lowByte(quantity), static_cast<std::uint8_t>(byteCount)};
        std::vector<int> expected;
        for (int i = 0; i < byteCount; ++i) request.push_back(static_cast<std::uint8_t>(0xCD + 31 * i));
        for (int i = 0; i < quantity; ++i) expected.push_back((request[static_cast<std::size_t>(7 + i / 8)] >> (i % 8)) & 1);

        const Reply reply = run(request);
        EXPECT_EQ(reply.length, 6);
        EXPECT_EQ(reply.bytes, Bytes(request.begin(), request.begin() + 6));
        const Call* call = table.find("writeCoils");
        ASSERT_NE(call, nullptr);
        EXPECT_EQ(call->args, (std::vector<int>{0x14, quantity}));
        EXPECT_EQ(call->values, expected);
        expectBalancedBrackets();
    }
}

}  // namespace
}  // namespace mbslave::test

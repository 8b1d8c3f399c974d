// Read Holding / Input Registers (3, 4), Write Single Register (6), Write
// Multiple Registers (16), Mask Write Register (22), Read/Write Multiple
// Registers (23).
#include "request_fixture.hpp"

namespace mbslave::test {
namespace {

using RegisterRequests = RequestTest;
using Sequence = std::vector<std::string>;

struct ExceptionCase {
    const char* name;
    Bytes request;
    std::uint8_t exception;
    Sequence sequence;  // calls the table saw
};

// A request with `count` register values 0x1100 + i after `head`.
Bytes withValues(Bytes head, int count, int bytesPerValue = 2) {
    for (int i = 0; i < count; ++i) {
        if (bytesPerValue == 4) {
            head.push_back(static_cast<std::uint8_t>(0x80 + i));
            head.push_back(0x00);
        }
        head.push_back(highByte(0x1100 + i));
        head.push_back(lowByte(0x1100 + i));
    }
    return head;
}

TEST_F(RegisterRequests, MalformedRequestsGetExceptionsBeforeAnyAccess) {
    const ExceptionCase cases[] = {
        {"FC3 7 bytes", {kSlave, 3, 0, 0, 0, 1, 0}, 3, {}},
        {"FC3 5 bytes", {kSlave, 3, 0, 0, 0}, 3, {}},
        {"FC3 quantity 0", {kSlave, 3, 0, 0, 0, 0}, 2, {}},
        {"FC3 quantity 126", {kSlave, 3, 0, 0, 0, 126}, 2, {}},
        {"FC3 quantity 0x8000", {kSlave, 3, 0, 0, 0x80, 0}, 2, {}},
        {"FC4 quantity 126", {kSlave, 4, 0, 0, 0, 126}, 2, {}},
        {"FC6 5 bytes", {kSlave, 6, 0, 0, 0}, 3, {}},
        {"FC6 7 bytes", {kSlave, 6, 0, 0, 0, 0, 0}, 3, {}},
        {"FC16 too short for a byte count", {kSlave, 16, 0, 0, 0, 1}, 3, {}},
        {"FC16 length not byte count + 7", {kSlave, 16, 0, 0, 0, 1, 2, 0}, 3, {}},
        {"FC16 byte count 6 for 2 registers", withValues({kSlave, 16, 0, 0, 0, 2, 6}, 3), 3, {}},
        {"FC16 negative quantity", {kSlave, 16, 0, 0, 0xFF, 0xFF, 0}, 3, {}},
        {"FC16 quantity 0", {kSlave, 16, 0, 0, 0, 0, 0}, 2, {}},
        {"FC22 7 bytes", {kSlave, 22, 0, 0, 0, 0, 0}, 3, {}},
        {"FC22 9 bytes", {kSlave, 22, 0, 0, 0, 0, 0, 0, 0}, 3, {}},
        {"FC23 too short for a byte count", {kSlave, 23, 0, 0, 0, 1, 0, 0, 0, 1}, 3, {}},
        {"FC23 length not byte count + 11", {kSlave, 23, 0, 0, 0, 1, 0, 0, 0, 1, 2, 0}, 3, {}},
        // The quantities of FC23 are checked inside the bracket.
        {"FC23 read quantity 0", withValues({kSlave, 23, 0, 0, 0, 0, 0, 0, 0, 1, 2}, 1), 2, {"lock", "unlock"}},
        {"FC23 read quantity 126", withValues({kSlave, 23, 0, 0, 0, 126, 0, 0, 0, 1, 2}, 1), 2, {"lock", "unlock"}},
        {"FC23 write byte count odd", {kSlave, 23, 0, 0, 0, 1, 0, 0, 0, 1, 3, 0, 0, 0}, 2, {"lock", "unlock"}},
        {"FC23 write quantity 0", {kSlave, 23, 0, 0, 0, 1, 0, 0, 0, 0, 0}, 2, {"lock", "unlock"}},
        {"FC23 write quantity negative", {kSlave, 23, 0, 0, 0, 1, 0, 0, 0xFF, 0xFF, 0}, 2, {"lock", "unlock"}},
    };
    for (const ExceptionCase& c : cases) {
        SCOPED_TRACE(c.name);
        table.calls.clear();
        expectException(c.request, c.exception);
        EXPECT_EQ(table.sequence(), c.sequence);
    }
}

TEST_F(RegisterRequests, RefusalsGetIllegalDataAddressAndStopTwoStepRequests) {
    const ExceptionCase cases[] = {
        {"readHoldingRegisters", {kSlave, 3, 0, 0, 0, 2}, 2,
         {"lock", "readRegisters32", "unlock", "lock", "readHoldingRegisters", "unlock"}},
        {"readInputRegisters", {kSlave, 4, 0, 0, 0, 100}, 2, {"lock", "readInputRegisters", "unlock"}},
        {"writeHoldingRegisters", {kSlave, 6, 0, 0, 0, 1}, 2, {"lock", "writeHoldingRegisters", "unlock"}},
        {"writeHoldingRegisters", withValues({kSlave, 16, 0, 0, 0, 2, 4}, 2), 2,
         {"lock", "writeHoldingRegisters", "unlock"}},
        {"writeRegisters32", withValues({kSlave, 16, 0, 0, 0, 2, 8}, 2, 4), 2,
         {"lock", "writeRegisters32", "unlock"}},
        // FC22: a refused read is not followed by the write.
        {"readHoldingRegisters", {kSlave, 22, 0, 0, 0, 0, 0, 0}, 2, {"lock", "readHoldingRegisters", "unlock"}},
        {"writeHoldingRegisters", {kSlave, 22, 0, 0, 0, 0, 0, 0}, 2,
         {"lock", "readHoldingRegisters", "writeHoldingRegisters", "unlock"}},
        // FC23: a refused write is not followed by the read.
        {"writeHoldingRegisters", withValues({kSlave, 23, 0, 0, 0, 1, 0, 0, 0, 1, 2}, 1), 2,
         {"lock", "writeHoldingRegisters", "unlock"}},
        {"readHoldingRegisters", withValues({kSlave, 23, 0, 0, 0, 1, 0, 0, 0, 1, 2}, 1), 2,
         {"lock", "writeHoldingRegisters", "readHoldingRegisters", "unlock"}},
    };
    for (const ExceptionCase& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " FC" + std::to_string(c.request[1]));
        table.calls.clear();
        table.refused = {c.name};
        expectException(c.request, c.exception);
        EXPECT_EQ(table.sequence(), c.sequence);
    }
}

TEST_F(RegisterRequests, ReadRegistersSendsValuesHighByteFirst) {
    for (int quantity : {1, 2, 62, 63, 125}) {
        SCOPED_TRACE(quantity);
        table.calls.clear();
        for (int i = 0; i < quantity; ++i) table.registers[static_cast<std::size_t>(0x201 + i)] = static_cast<std::uint16_t>(0xA000 + 3 * i);
        const Reply reply = run({kSlave, 3, 0x02, 0x00, 0, static_cast<std::uint8_t>(quantity)});
        ASSERT_EQ(reply.length, 2 * quantity + 3);
        EXPECT_EQ(reply.bytes[2], 2 * quantity);
        for (int i = 0; i < quantity; ++i) {
            EXPECT_EQ(reply.bytes[static_cast<std::size_t>(3 + 2 * i)], 0xA0 + (3 * i >> 8));
            EXPECT_EQ(reply.bytes[static_cast<std::size_t>(4 + 2 * i)], lowByte(3 * i));
        }
        // Up to 62 registers the 32-bit form is offered first; it declines here.
        const Sequence expected = quantity <= 62 ? Sequence{"readRegisters32", "readHoldingRegisters"}
                                                 : Sequence{"readHoldingRegisters"};
        EXPECT_EQ(operations(), expected);
        EXPECT_EQ(table.find("readHoldingRegisters")->args, (std::vector<int>{0x201, quantity}));
        expectBalancedBrackets();
    }
}

TEST_F(RegisterRequests, ReadInputRegistersUsesItsOwnOperation) {
    const Reply reply = run({kSlave, 4, 0x00, 0x09, 0, 2});
    // The table's input register r holds r + 0x100.
    EXPECT_EQ(reply.bytes, (Bytes{kSlave, 4, 4, 0x01, 0x0A, 0x01, 0x0B}));
    EXPECT_EQ(operations(), (Sequence{"readRegisters32", "readInputRegisters"}));
}

TEST_F(RegisterRequests, ThirtyTwoBitReadServesBothReadCodes) {
    table.registers32Result = 1;
    for (std::uint8_t code : {3, 4}) {
        SCOPED_TRACE(int{code});
        table.calls.clear();
        // The table fills value i with 0x01020304 * (i + 1).
        const Reply reply = run({kSlave, code, 0, 4, 0, 62});
        ASSERT_EQ(reply.length, 251);
        EXPECT_EQ(reply.bytes[2], 248);
        for (int i = 0; i < 62; ++i) {
            const std::uint32_t value = 0x01020304u * static_cast<std::uint32_t>(i + 1);
            const std::size_t at = static_cast<std::size_t>(3 + 4 * i);
            EXPECT_EQ(reply.bytes[at], static_cast<std::uint8_t>(value >> 24));
            EXPECT_EQ(reply.bytes[at + 3], static_cast<std::uint8_t>(value));
        }
        EXPECT_EQ(operations(), Sequence{"readRegisters32"});
        EXPECT_EQ(table.calls.at(1).args, (std::vector<int>{5, 62}));
    }
    // 63 registers never reach the 32-bit form.
    table.calls.clear();
    EXPECT_EQ(run({kSlave, 3, 0, 4, 0, 63}).length, 129);
    EXPECT_EQ(operations(), Sequence{"readHoldingRegisters"});
}

TEST_F(RegisterRequests, WriteSingleRegisterEchoes) {
    const Bytes request = {kSlave, 6, 0x00, 0x07, 0xBE, 0xEF};
    EXPECT_EQ(run(request).bytes, request);
    EXPECT_EQ(table.registers[8], 0xBEEF);
    EXPECT_EQ(table.find("writeHoldingRegisters")->args, (std::vector<int>{8, 1}));
    expectBalancedBrackets();
}

TEST_F(RegisterRequests, WriteMultipleRegistersChoosesFormByByteCount) {
    const struct {
        const char* name;
        int quantity;
        int bytesPerValue;
        const char* operation;
        std::vector<int> values;
    } cases[] = {
        {"16-bit", 3, 2, "writeHoldingRegisters", {0x1100, 0x1101, 0x1102}},
        {"32-bit pair", 2, 4, "writeRegisters32", {static_cast<int>(0x80001100), static_cast<int>(0x81001101)}},
        {"16-bit maximum", 123, 2, "writeHoldingRegisters", {}},
        {"32-bit maximum (255-byte request)", 62, 4, "writeRegisters32", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        table.calls.clear();
        const Bytes request = withValues(
            {kSlave, 16, 0x00, 0x30, 0, static_cast<std::uint8_t>(c.quantity),
             static_cast<std::uint8_t>(c.bytesPerValue * c.quantity)},
            c.quantity, c.bytesPerValue);
        const Reply reply = run(request);
        EXPECT_EQ(reply.bytes, Bytes(request.begin(), request.begin() + 6));
        EXPECT_EQ(operations(), Sequence{c.operation});
        const Call* call = table.find(c.operation);
        EXPECT_EQ(call->args, (std::vector<int>{0x31, c.quantity}));
        if (!c.values.empty()) {
            EXPECT_EQ(call->values, c.values);
        }
        EXPECT_EQ(static_cast<int>(call->values.size()), c.quantity);
        expectBalancedBrackets();
    }
}

TEST_F(RegisterRequests, MaskWriteRegisterModifiesInOneBracket) {
    table.registers[5] = 0x0012;
    const Bytes request = {kSlave, 22, 0x00, 0x04, 0x00, 0xF2, 0x00, 0x25};
    const Reply reply = run(request);
    EXPECT_EQ(reply.bytes, request);
    EXPECT_EQ(table.registers[5], 0x0017);
    EXPECT_EQ(table.sequence(), (Sequence{"lock", "readHoldingRegisters", "writeHoldingRegisters", "unlock"}));
    EXPECT_EQ(table.find("readHoldingRegisters")->args, (std::vector<int>{5, 1}));
    EXPECT_EQ(table.find("writeHoldingRegisters")->values, std::vector<int>{0x0017});
    expectBalancedBrackets();
}

TEST_F(RegisterRequests, ReadWriteMultipleRegistersWritesFirstInOneBracket) {
    for (int i = 0; i < 10; ++i) table.registers[static_cast<std::size_t>(11 + i)] = static_cast<std::uint16_t>(i);
    // Read 11..16, write 14..15: the read returns the fresh values where they overlap.
    const Bytes request = {kSlave, 23, 0, 10, 0, 6, 0, 13, 0, 2, 4, 0xAA, 0xBB, 0xCC, 0xDD};
    const Reply reply = run(request);
    EXPECT_EQ(reply.bytes, (Bytes{kSlave, 23, 12, 0, 0, 0, 1, 0, 2, 0xAA, 0xBB, 0xCC, 0xDD, 0, 5}));
    EXPECT_EQ(table.sequence(), (Sequence{"lock", "writeHoldingRegisters", "readHoldingRegisters", "unlock"}));
    EXPECT_EQ(table.calls.at(1).args, (std::vector<int>{14, 2}));
    EXPECT_EQ(table.calls.at(2).args, (std::vector<int>{11, 6}));
    expectBalancedBrackets();
}

TEST_F(RegisterRequests, ReadWriteMultipleRegistersAtTheLimits) {
    // 125 registers read, 122 written: a 255-byte request and a 253-byte reply.
    const Bytes request = withValues({kSlave, 23, 0, 0, 0, 125, 0x10, 0, 0, 122, 244}, 122);
    const Reply reply = run(request);
    EXPECT_EQ(reply.length, 253);
    EXPECT_EQ(reply.bytes[2], 250);
    EXPECT_EQ(table.find("writeHoldingRegisters")->args, (std::vector<int>{0x1001, 122}));
}

}  // namespace
}  // namespace mbslave::test

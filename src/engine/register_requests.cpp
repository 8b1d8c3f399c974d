// Register requests: Read Holding / Input Registers (3, 4), Write Single
// Register (6), Write Multiple Registers (16), Mask Write Register (22) and
// Read/Write Multiple Registers (23).
#include "engine/data_access.hpp"
#include "engine/slave_protocol.hpp"
#include "engine/wire_format.hpp"

namespace mbslave {

namespace {
using namespace pdu::access;
using namespace pdu::maskWrite;
using namespace pdu::readWrite;
constexpr int kReadRequestLength = 6;
constexpr int kWriteSingleLength = 6;
constexpr int kWriteMultipleReplyLength = 6;
constexpr int kMaskWriteLength = 8;

int referenceAt(const std::uint8_t* field) { return wire::readU16(field) + 1; }

bool inRange(int quantity, int maximum) { return quantity >= 1 && quantity <= maximum; }

// Reply of a register read: byte count, then the values high byte first.
int registerReadReply(std::uint8_t* frame, const std::uint16_t* values, int quantity) {
    frame[kDataOffset] = static_cast<std::uint8_t>(2 * quantity);
    wire::writeRegisters(frame + kDataOffset + 1, values, quantity);
    return 2 * quantity + 3;
}
}  // namespace

int SlaveProtocol::serveReadRegisters(std::uint8_t* frame, int length, DataTable& table) {
    if (length != kReadRequestLength) return exceptionReply(frame, ExceptionCode::kIllegalDataValue);
    const int quantity = wire::readQuantity(frame + kQuantityOffset);
    if (!inRange(quantity, kMaxRegisters)) {
        return exceptionReply(frame, ExceptionCode::kIllegalDataAddress);
    }
    const int start = referenceAt(frame + kAddressOffset);

    // A table may serve up to 62 registers as 32-bit values; it declines by
    // returning 0 and is then asked for 16-bit registers.
    if (quantity <= kMaxRegisters32) {
        const int served = bracketed(table, &requestInfo, [&](DataTable& t) {
            return t.readRegisters32(start, register32Buffer, quantity);
        });
        if (served != 0) {
            frame[kDataOffset] = static_cast<std::uint8_t>(4 * quantity);
            wire::writeRegisters32(frame + kDataOffset + 1, register32Buffer, quantity);
            return 4 * quantity + 3;
        }
    }

    const bool holding = frame[kFunctionCodeOffset] == FunctionCode::kReadHoldingRegisters;
    const int refused = refusedAccess(frame, table, &requestInfo, [&](DataTable& t) {
        return holding ? t.readHoldingRegisters(start, registerBuffer, quantity)
                       : t.readInputRegisters(start, registerBuffer, quantity);
    });
    if (refused != 0) return refused;
    return registerReadReply(frame, registerBuffer, quantity);
}

int SlaveProtocol::serveWriteSingleRegister(std::uint8_t* frame, int length, DataTable& table) {
    if (length != kWriteSingleLength) return exceptionReply(frame, ExceptionCode::kIllegalDataValue);
    registerBuffer[0] = wire::readU16(frame + kValueOffset);
    const int start = referenceAt(frame + kAddressOffset);
    const int refused = refusedAccess(frame, table, &requestInfo, [&](DataTable& t) {
        return t.writeHoldingRegisters(start, registerBuffer, 1);
    });
    if (refused != 0) return refused;
    return kWriteSingleLength;
}

int SlaveProtocol::serveWriteMultipleRegisters(std::uint8_t* frame, int length, DataTable& table) {
    if (length <= kByteCountOffset || length != frame[kByteCountOffset] + kValuesOffset) {
        return exceptionReply(frame, ExceptionCode::kIllegalDataValue);
    }
    const int byteCount = frame[kByteCountOffset];
    const int quantity = wire::readQuantity(frame + kQuantityOffset);
    const int start = referenceAt(frame + kAddressOffset);
    const std::uint8_t* values = frame + kValuesOffset;

    int refused;
    if (byteCount == 2 * quantity) {
        if (!inRange(quantity, kMaxRegisters)) {
            return exceptionReply(frame, ExceptionCode::kIllegalDataAddress);
        }
        wire::readRegisters(values, registerBuffer, quantity);
        refused = refusedAccess(frame, table, &requestInfo, [&](DataTable& t) {
            return t.writeHoldingRegisters(start, registerBuffer, quantity);
        });
    } else if (byteCount == 4 * quantity) {
        // Four bytes per register: the quantity counts 32-bit registers.
        if (!inRange(quantity, kMaxRegisters32)) {
            return exceptionReply(frame, ExceptionCode::kIllegalDataAddress);
        }
        wire::readRegisters32(values, register32Buffer, quantity);
        refused = refusedAccess(frame, table, &requestInfo, [&](DataTable& t) {
            return t.writeRegisters32(start, register32Buffer, quantity);
        });
    } else {
        return exceptionReply(frame, ExceptionCode::kIllegalDataValue);
    }
    if (refused != 0) return refused;
    return kWriteMultipleReplyLength;
}

int SlaveProtocol::serveMaskWriteRegister(std::uint8_t* frame, int length, DataTable& table) {
    if (length != kMaskWriteLength) return exceptionReply(frame, ExceptionCode::kIllegalDataValue);
    const std::uint16_t andMask = wire::readU16(frame + kAndMaskOffset);
    const std::uint16_t orMask = wire::readU16(frame + kOrMaskOffset);
    const int reference = referenceAt(frame + kAddressOffset);

    // Read, modify and write inside one bracket so that the change is atomic
    // for a table shared with other threads.
    const int refused = refusedAccess(frame, table, &requestInfo, [&](DataTable& t) {
        if (t.readHoldingRegisters(reference, registerBuffer, 1) == 0) return 0;
        registerBuffer[0] = static_cast<std::uint16_t>((registerBuffer[0] & andMask) |
                                                       (orMask & ~andMask));
        return t.writeHoldingRegisters(reference, registerBuffer, 1);
    });
    if (refused != 0) return refused;
    return kMaskWriteLength;
}

int SlaveProtocol::serveReadWriteMultipleRegisters(std::uint8_t* frame, int length,
                                                    DataTable& table) {
    if (length <= kWriteByteCountOffset ||
        length != frame[kWriteByteCountOffset] + kWriteValuesOffset) {
        return exceptionReply(frame, ExceptionCode::kIllegalDataValue);
    }
    const int readStart = referenceAt(frame + kReadStartOffset);
    const int readQuantity = wire::readQuantity(frame + kReadQuantityOffset);
    const int writeStart = referenceAt(frame + kWriteStartOffset);
    const int writeQuantity = wire::readQuantity(frame + kWriteQuantityOffset);
    const int writeByteCount = frame[kWriteByteCountOffset];

    // The quantities are checked inside the bracket; the write always
    // precedes the read, so overlapping ranges read the fresh values.
    const int refused = refusedAccess(frame, table, &requestInfo, [&](DataTable& t) {
        if (!inRange(readQuantity, kMaxRegisters) || writeByteCount != 2 * writeQuantity ||
            !inRange(writeQuantity, kMaxRegisters)) {
            return 0;
        }
        wire::readRegisters(frame + kWriteValuesOffset, registerBuffer, writeQuantity);
        if (t.writeHoldingRegisters(writeStart, registerBuffer, writeQuantity) == 0) return 0;
        return t.readHoldingRegisters(readStart, registerBuffer, readQuantity);
    });
    if (refused != 0) return refused;
    return registerReadReply(frame, registerBuffer, readQuantity);
}

}  // namespace mbslave

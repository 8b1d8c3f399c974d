// Coil and discrete-input requests: Read Coils (1), Read Discrete Inputs (2),
// Write Single Coil (5), Write Multiple Coils (15).
#include "engine/data_access.hpp"
#include "engine/slave_protocol.hpp"
#include "engine/wire_format.hpp"

namespace mbslave {

namespace {
using namespace pdu::access;
constexpr int kPackedBitsOffset = kValuesOffset;
constexpr int kReadRequestLength = 6;
constexpr int kWriteSingleLength = 6;
constexpr int kWriteMultipleReplyLength = 6;
constexpr std::uint16_t kCoilOn = 0xFF00;
constexpr std::uint16_t kCoilOff = 0x0000;

int startReference(const std::uint8_t* frame) {
    return wire::readU16(frame + kAddressOffset) + 1;
}

int packedByteCount(int bitCount) { return (bitCount + 7) / 8; }
}  // namespace

int SlaveProtocol::serveReadBits(std::uint8_t* frame, int length, DataTable& table) {
    if (length != kReadRequestLength) return exceptionReply(frame, ExceptionCode::kIllegalDataValue);
    const int quantity = wire::readQuantity(frame + kQuantityOffset);
    if (quantity < 1 || quantity > kMaxBits) {
        return exceptionReply(frame, ExceptionCode::kIllegalDataAddress);
    }
    const int start = startReference(frame);
    const bool coils = frame[kFunctionCodeOffset] == FunctionCode::kReadCoils;
    const int refused = refusedAccess(frame, table, &requestInfo, [&](DataTable& t) {
        return coils ? t.readCoils(start, coilBuffer, quantity)
                     : t.readInputDiscretes(start, coilBuffer, quantity);
    });
    if (refused != 0) return refused;

    const int byteCount = packedByteCount(quantity);
    frame[kDataOffset] = static_cast<std::uint8_t>(byteCount);
    wire::packBits(coilBuffer, quantity, frame + kDataOffset + 1);
    return byteCount + 3;
}

int SlaveProtocol::serveWriteSingleCoil(std::uint8_t* frame, int length, DataTable& table) {
    if (length != kWriteSingleLength) return exceptionReply(frame, ExceptionCode::kIllegalDataValue);
    const std::uint16_t value = wire::readU16(frame + kQuantityOffset);
    if (value != kCoilOn && value != kCoilOff) {
        return exceptionReply(frame, ExceptionCode::kIllegalDataValue);
    }
    coilBuffer[0] = value == kCoilOn ? 1 : 0;
    const int start = startReference(frame);
    const int refused = refusedAccess(frame, table, &requestInfo,
                                      [&](DataTable& t) { return t.writeCoils(start, coilBuffer, 1); });
    if (refused != 0) return refused;
    return kWriteSingleLength;
}

int SlaveProtocol::serveWriteMultipleCoils(std::uint8_t* frame, int length, DataTable& table) {
    if (length <= kByteCountOffset || length != frame[kByteCountOffset] + kPackedBitsOffset) {
        return exceptionReply(frame, ExceptionCode::kIllegalDataValue);
    }
    const int quantity = wire::readQuantity(frame + kQuantityOffset);
    if (frame[kByteCountOffset] != packedByteCount(quantity) || quantity < 1 || quantity > kMaxBits) {
        return exceptionReply(frame, ExceptionCode::kIllegalDataAddress);
    }
    wire::unpackBits(frame + kPackedBitsOffset, quantity, coilBuffer);
    const int start = startReference(frame);
    const int refused = refusedAccess(frame, table, &requestInfo,
                                      [&](DataTable& t) { return t.writeCoils(start, coilBuffer, quantity); });
    if (refused != 0) return refused;
    return kWriteMultipleReplyLength;
}

}  // namespace mbslave

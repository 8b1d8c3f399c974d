#include "engine/rtu_frame_bytes.hpp"

#include <array>

#include "engine/modbus_codes.hpp"

namespace mbslave {

namespace {

// The CRC of one byte value v alone: eight reflected shift steps from v.
constexpr std::uint16_t crcOfByte(unsigned v) noexcept {
    unsigned crc = v;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1u) ? (crc >> 1) ^ 0xA001u : crc >> 1;
    return static_cast<std::uint16_t>(crc);
}

// The byte-at-a-time tables: the low-order and the high-order byte of the
// CRC of every byte value.
struct CrcTables {
    std::array<std::uint8_t, 256> low{};
    std::array<std::uint8_t, 256> high{};
};

constexpr CrcTables makeTables() noexcept {
    CrcTables tables;
    for (unsigned v = 0; v < 256; ++v) {
        const std::uint16_t crc = crcOfByte(v);
        tables.low[v] = static_cast<std::uint8_t>(crc & 0xFFu);
        tables.high[v] = static_cast<std::uint8_t>(crc >> 8);
    }
    return tables;
}

constexpr CrcTables kTables = makeTables();

}  // namespace

std::uint16_t crc16(const std::uint8_t* bytes, int length) noexcept {
    std::uint8_t low = 0xFF;
    std::uint8_t high = 0xFF;
    for (int i = 0; i < length; ++i) {
        const std::uint8_t index = bytes[i] ^ low;
        low = kTables.low[index] ^ high;
        high = kTables.high[index];
    }
    return static_cast<std::uint16_t>((high << 8) | low);
}

int appendCrc16(std::uint8_t* frame, int length) noexcept {
    const std::uint16_t crc = crc16(frame, length);
    frame[length] = static_cast<std::uint8_t>(crc & 0xFFu);
    frame[length + 1] = static_cast<std::uint8_t>(crc >> 8);
    return length + 2;
}

bool hasValidCrc16(const std::uint8_t* frame, int length) noexcept {
    const int covered = length - 2;
    const unsigned received = frame[covered] | (frame[covered + 1] << 8);
    return crc16(frame, covered) == received;
}

namespace {

// Read FIFO Queue, Get Comm Event Counter and Get Comm Event Log: served by
// no handler, but their requests tell their length.
constexpr std::uint8_t kGetCommEventCounter = 11;
constexpr std::uint8_t kGetCommEventLog = 12;
constexpr std::uint8_t kReadFifoQueue = 24;
// The MEI type of Read Device Identification.
constexpr std::uint8_t kReadDeviceIdentification = 14;

// frame[index] + extra once byte `index` is in.
int countedLength(const std::uint8_t* frame, int count, int index, int extra) noexcept {
    return count > index ? frame[index] + extra : kRtuLengthPending;
}

}  // namespace

int rtuRequestLength(const std::uint8_t* frame, int count, RtuLengthRules rules) noexcept {
    if (count < 2) return kRtuLengthPending;
    using namespace FunctionCode;
    const std::uint8_t functionCode = frame[1];
    if (functionCode >= kReadCoils && functionCode <= kWriteSingleRegister) return 8;
    switch (functionCode) {
        case kWriteMultipleCoils:
        case kWriteMultipleRegisters: return countedLength(frame, count, 6, 9);
        case kMaskWriteRegister: return 10;
        case kReadWriteMultipleRegisters: return countedLength(frame, count, 10, 13);
        case kReadExceptionStatus: return rules == RtuLengthRules::serialLine ? 6 : 4;
        default: break;
    }
    if (rules == RtuLengthRules::serialLine) return kRtuLengthUntold;
    switch (functionCode) {
        case kGetCommEventCounter:
        case kGetCommEventLog:
        case kReportSlaveId: return 4;
        case kReadFileRecord:
        case kWriteFileRecord: return countedLength(frame, count, 2, 5);
        case kReadFifoQueue: return 6;
        case kEncapsulatedInterface:
            if (count < 3) return kRtuLengthPending;
            return frame[2] == kReadDeviceIdentification ? 7 : kRtuLengthUntold;
        default: return kRtuLengthUntold;
    }
}

}  // namespace mbslave

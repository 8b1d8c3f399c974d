#include "engine/rtu_request_length.hpp"

#include "engine/modbus_codes.hpp"

namespace mbslave {

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

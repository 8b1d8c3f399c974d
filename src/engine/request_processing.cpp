// Serving a decoded request, the same for every transport: table check,
// request context, processing, reply, bookkeeping and notification; then
// the entry of processing: guards the frame, dispatches on the function code
// and applies the exception-reply policy to the result.
#include "engine/data_access.hpp"
#include "engine/modbus_codes.hpp"
#include "engine/slave_protocol.hpp"

namespace mbslave {

namespace {
// Longest message any transport delivers: 513 ASCII digits decode to 255
// bytes after the LRC is removed.
constexpr int kMaxRequestLength = 255;
}  // namespace

bool SlaveProtocol::serveRequest(std::uint8_t* frame, int length, const RequestOrigin& origin) {
    const int slaveAddress = frame[pdu::kSlaveAddressOffset];
    if (dataTable(slaveAddress) == nullptr) return false;  // for another slave
    requestInfo.slaveAddress = slaveAddress;
    if (origin.transactionId >= 0) requestInfo.transactionId = origin.transactionId;
    if (origin.peerName != nullptr) requestInfo.peerName = origin.peerName;

    int replyLength;
    if (length >= 2 && !admitRequest(frame, length)) {
        replyLength = exceptionRepliesDisabled ? 0 : exceptionReply(frame, ExceptionCode::kIllegalFunction);
    } else {
        replyLength = processRequest(frame, length);
    }
    const bool delivered = replyLength <= 0 || deliverReply(origin.channel, replyLength);

    if (origin.idleTimer != nullptr) origin.idleTimer->start(origin.idleTimeOut, now());
    recordServedRequest(slaveAddress);
    if (requestCallback != nullptr) requestCallback(requestInfo.peerName);
    return delivered;
}

int SlaveProtocol::processRequest(std::uint8_t* frame, int length) {
    DataTable* table = dataTables[frame[pdu::kSlaveAddressOffset]];
    if (table == nullptr) return 0;  // the transports drop such requests before

    int replyLength;
    if (length < 2) {
        // No function code was received: answer as function code 0 rather
        // than from whatever an earlier request left in the buffer.
        frame[kFunctionCodeOffset] = 0;
        replyLength = exceptionReply(frame, ExceptionCode::kIllegalFunction);
    } else if (length > kMaxRequestLength) {
        replyLength = exceptionReply(frame, ExceptionCode::kIllegalDataValue);
    } else {
        replyLength = dispatch(frame, length, *table);
    }

    const bool isException = (frame[kFunctionCodeOffset] & FunctionCode::kExceptionFlag) != 0;
    if (isException && exceptionRepliesDisabled) return 0;
    return replyLength;
}

int SlaveProtocol::dispatch(std::uint8_t* frame, int length, DataTable& table) {
    using namespace FunctionCode;
    switch (frame[kFunctionCodeOffset]) {
        case kReadCoils:
        case kReadDiscreteInputs: return serveReadBits(frame, length, table);
        case kReadHoldingRegisters:
        case kReadInputRegisters: return serveReadRegisters(frame, length, table);
        case kWriteSingleCoil: return serveWriteSingleCoil(frame, length, table);
        case kWriteSingleRegister: return serveWriteSingleRegister(frame, length, table);
        case kReadExceptionStatus: return serveReadExceptionStatus(frame, length, table);
        case kDiagnostics: return serveDiagnostics(frame, length);
        case kWriteMultipleCoils: return serveWriteMultipleCoils(frame, length, table);
        case kWriteMultipleRegisters: return serveWriteMultipleRegisters(frame, length, table);
        case kReportSlaveId: return serveReportSlaveId(frame, length, table);
        case kReadFileRecord: return serveReadFileRecord(frame, length, table);
        case kWriteFileRecord: return serveWriteFileRecord(frame, length, table);
        case kMaskWriteRegister: return serveMaskWriteRegister(frame, length, table);
        case kReadWriteMultipleRegisters: return serveReadWriteMultipleRegisters(frame, length, table);
        case kEncapsulatedInterface: return serveEncapsulatedInterface(frame, length);
        default: return exceptionReply(frame, ExceptionCode::kIllegalFunction);
    }
}

}  // namespace mbslave

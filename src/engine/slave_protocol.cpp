// The protocol base: data tables, the start of every pass with the master
// supervision, serving a decoded request the same for every transport
// (table check, request context, admission, processing with the dispatch on
// the function code and the exception-reply policy), and the bookkeeping of
// a served request.
#include "engine/slave_protocol.hpp"

#include "engine/data_access.hpp"
#include "engine/modbus_codes.hpp"

namespace mbslave {

SlaveProtocol::SlaveProtocol() noexcept {
    const std::uint32_t start = now();
    activityTimer = Timer(start);
    for (Timer& timer : addressTimers) timer = Timer(start);
}

int SlaveProtocol::setDataTable(int slaveAddress, DataTable* table) noexcept {
    if (slaveAddress < -1 || slaveAddress >= kSlaveAddressCount) return MB_ERR_ILLEGAL_ARGUMENT;
    const std::uint32_t start = now();
    const int first = slaveAddress == -1 ? 0 : slaveAddress;
    const int last = slaveAddress == -1 ? kSlaveAddressCount - 1 : slaveAddress;
    for (int address = first; address <= last; ++address) {
        dataTables[address] = table;
        addressTimers[address].start(timeOut, start);
    }
    return MB_OK;
}

DataTable* SlaveProtocol::dataTable(int slaveAddress) const noexcept { return dataTables[slaveAddress & 0xFF]; }

bool SlaveProtocol::isStarted() const noexcept { return started; }

std::uint32_t SlaveProtocol::now() const noexcept { return tickSource(); }

bool SlaveProtocol::admitRequest(const std::uint8_t*, int) { return true; }

bool SlaveProtocol::noDataTableConfigured() const noexcept {
    for (const DataTable* table : dataTables) {
        if (table != nullptr) return false;
    }
    return true;
}

int SlaveProtocol::serverLoop() {
    if (!isStarted()) return MB_ERR_ILLEGAL_STATE;
    superviseMasters();
    return servePass();
}

void SlaveProtocol::superviseMasters() {
    if (timeOut == 0) return;
    // One tick for the whole sweep: reading the clock per address cost up
    // to 255 clock reads a pass. Address 255 is never supervised.
    const std::uint32_t tick = now();
    for (int address = 0; address < kSlaveAddressCount - 1; ++address) {
        DataTable* table = dataTables[address];
        if (table == nullptr) continue;
        if (addressTimers[address].hasElapsed(tick)) {
            table->signalTimeOut();
            addressTimers[address].start(timeOut, tick);
        }
    }
}

int SlaveProtocol::serveRequest(std::uint8_t* frame, int length, const RequestOrigin& origin) {
    const int slaveAddress = frame[pdu::kSlaveAddressOffset];
    if (dataTable(slaveAddress) == nullptr) return kNotForThisServer;
    requestInfo.slaveAddress = slaveAddress;
    if (origin.transactionId >= 0) requestInfo.transactionId = origin.transactionId;
    if (origin.peerName != nullptr) requestInfo.peerName = origin.peerName;

    if (length >= 2 && !admitRequest(frame, length)) {
        return exceptionRepliesDisabled ? 0 : exceptionReply(frame, ExceptionCode::kIllegalFunction);
    }
    return processRequest(frame, length);
}

void SlaveProtocol::finishRequest() {
    recordServedRequest(requestInfo.slaveAddress);
    if (requestCallback != nullptr) requestCallback(requestInfo.peerName);
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

int SlaveProtocol::setTimeout(std::uint32_t milliseconds) noexcept {
    if (milliseconds > kMaxTimeOut) return MB_ERR_ILLEGAL_ARGUMENT;
    timeOut = milliseconds;
    return MB_OK;
}

void SlaveProtocol::recordServedRequest(int slaveAddress) noexcept {
    const std::uint32_t tick = now();
    ++successCounter;
    activityTimer.start(timeOut, tick);
    addressTimers[slaveAddress & 0xFF].start(timeOut, tick);
}

}  // namespace mbslave

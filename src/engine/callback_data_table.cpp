#include "engine/callback_data_table.hpp"

namespace mbslave {

namespace {

// Calls the callback with the request context appended, or refuses when the
// application registered none.
template <typename Callback, typename... Args>
int forward(Callback callback, const RequestInfo* info, Args... args) {
    return callback == nullptr ? 0 : callback(args..., info);
}

}  // namespace

int CallbackDataTable::readHoldingRegisters(int startRef, std::uint16_t* regArr, int refCnt) {
    return forward(callbacks_.readHoldingRegisters, requestInfo, startRef, regArr, refCnt);
}

int CallbackDataTable::writeHoldingRegisters(int startRef, const std::uint16_t* regArr,
                                             int refCnt) {
    return forward(callbacks_.writeHoldingRegisters, requestInfo, startRef, regArr, refCnt);
}

int CallbackDataTable::readRegisters32(int startRef, std::int32_t* regArr, int refCnt) {
    return forward(callbacks_.readRegisters32, requestInfo, startRef, regArr, refCnt);
}

int CallbackDataTable::writeRegisters32(int startRef, const std::int32_t* regArr, int refCnt) {
    return forward(callbacks_.writeRegisters32, requestInfo, startRef, regArr, refCnt);
}

int CallbackDataTable::readInputRegisters(int startRef, std::uint16_t* regArr, int refCnt) {
    return forward(callbacks_.readInputRegisters, requestInfo, startRef, regArr, refCnt);
}

int CallbackDataTable::readCoils(int startRef, char* bitArr, int refCnt) {
    return forward(callbacks_.readCoils, requestInfo, startRef, bitArr, refCnt);
}

int CallbackDataTable::writeCoils(int startRef, const char* bitArr, int refCnt) {
    return forward(callbacks_.writeCoils, requestInfo, startRef, bitArr, refCnt);
}

int CallbackDataTable::readInputDiscretes(int startRef, char* bitArr, int refCnt) {
    return forward(callbacks_.readInputDiscretes, requestInfo, startRef, bitArr, refCnt);
}

int CallbackDataTable::readFileRecord(int refType, int fileNo, int recordNo,
                                      std::uint16_t* regArr, int recordLen) {
    return forward(callbacks_.readFileRecord, requestInfo, refType, fileNo, recordNo, regArr,
                   recordLen);
}

int CallbackDataTable::writeFileRecord(int refType, int fileNo, int recordNo,
                                       const std::uint16_t* regArr, int recordLen) {
    return forward(callbacks_.writeFileRecord, requestInfo, refType, fileNo, recordNo, regArr,
                   recordLen);
}

int CallbackDataTable::readExceptionStatus() {
    return forward(callbacks_.readExceptionStatus, requestInfo);
}

int CallbackDataTable::reportSlaveId(char* buffer, int capacity) {
    return forward(callbacks_.reportSlaveId, requestInfo, buffer, capacity);
}

int CallbackDataTable::runIndicatorStatus() {
    return forward(callbacks_.runIndicatorStatus, requestInfo);
}

int CallbackDataTable::readDeviceIdObject(int objectId, char* buffer, int capacity) {
    return forward(callbacks_.readDeviceIdObject, requestInfo, objectId, buffer, capacity);
}

void CallbackDataTable::signalTimeOut() {
    if (callbacks_.signalTimeOut != nullptr) callbacks_.signalTimeOut();
}

}  // namespace mbslave

// The operations through which request processing reaches the data of one
// slave address. Every operation has a default body: data and query
// operations refuse (return 0), service operations do nothing.
#pragma once

#include <cstdint>

#include "base/heap_object.hpp"
#include "mbslave.h"

namespace mbslave {

class DataTable : public HeapObject {
public:
    virtual ~DataTable() = default;

    virtual int readHoldingRegisters(int startRef, std::uint16_t* regArr, int refCnt);
    virtual int writeHoldingRegisters(int startRef, const std::uint16_t* regArr, int refCnt);
    // Nonzero: served in 32-bit form; 0: request processing falls back to the
    // 16-bit operation.
    virtual int readRegisters32(int startRef, std::int32_t* regArr, int refCnt);
    virtual int writeRegisters32(int startRef, const std::int32_t* regArr, int refCnt);
    virtual int readInputRegisters(int startRef, std::uint16_t* regArr, int refCnt);
    virtual int readCoils(int startRef, char* bitArr, int refCnt);
    virtual int writeCoils(int startRef, const char* bitArr, int refCnt);
    virtual int readInputDiscretes(int startRef, char* bitArr, int refCnt);
    virtual int readFileRecord(int refType, int fileNo, int recordNo, std::uint16_t* regArr,
                               int recordLen);
    virtual int writeFileRecord(int refType, int fileNo, int recordNo,
                                const std::uint16_t* regArr, int recordLen);
    virtual int readExceptionStatus();
    virtual int reportSlaveId(char* buffer, int capacity);
    virtual int runIndicatorStatus();
    virtual int readDeviceIdObject(int objectId, char* buffer, int capacity);
    virtual void signalTimeOut();
    virtual void lock();
    virtual void unlock();

    // Context of the request being processed; set by request processing
    // before each operation. Not owned.
    RequestInfo* requestInfo = nullptr;
};

}  // namespace mbslave

// DataTable that forwards every operation to a C callback of the
// application; a callback that is not registered refuses.
#pragma once

#include "engine/data_table.hpp"

namespace mbslave {

// The fifteen callbacks in the argument order of mbusSlave_configureCallbacks.
struct Callbacks {
    MbReadHoldingRegistersCallback readHoldingRegisters = nullptr;
    MbWriteHoldingRegistersCallback writeHoldingRegisters = nullptr;
    MbReadInputRegistersCallback readInputRegisters = nullptr;
    MbReadCoilsCallback readCoils = nullptr;
    MbWriteCoilsCallback writeCoils = nullptr;
    MbReadInputDiscretesCallback readInputDiscretes = nullptr;
    MbReadRegisters32Callback readRegisters32 = nullptr;
    MbWriteRegisters32Callback writeRegisters32 = nullptr;
    MbReadExceptionStatusCallback readExceptionStatus = nullptr;
    MbSignalTimeOutCallback signalTimeOut = nullptr;
    MbReadFileRecordCallback readFileRecord = nullptr;
    MbWriteFileRecordCallback writeFileRecord = nullptr;
    MbReportSlaveIdCallback reportSlaveId = nullptr;
    MbRunIndicatorStatusCallback runIndicatorStatus = nullptr;
    MbReadDeviceIdObjectCallback readDeviceIdObject = nullptr;
};

class CallbackDataTable final : public DataTable {
public:
    // Replaces all fifteen pointers, null ones included.
    void setCallbacks(const Callbacks& callbacks) noexcept { callbacks_ = callbacks; }
    const Callbacks& callbacks() const noexcept { return callbacks_; }

    int readHoldingRegisters(int startRef, std::uint16_t* regArr, int refCnt) override;
    int writeHoldingRegisters(int startRef, const std::uint16_t* regArr, int refCnt) override;
    int readRegisters32(int startRef, std::int32_t* regArr, int refCnt) override;
    int writeRegisters32(int startRef, const std::int32_t* regArr, int refCnt) override;
    int readInputRegisters(int startRef, std::uint16_t* regArr, int refCnt) override;
    int readCoils(int startRef, char* bitArr, int refCnt) override;
    int writeCoils(int startRef, const char* bitArr, int refCnt) override;
    int readInputDiscretes(int startRef, char* bitArr, int refCnt) override;
    int readFileRecord(int refType, int fileNo, int recordNo, std::uint16_t* regArr,
                       int recordLen) override;
    int writeFileRecord(int refType, int fileNo, int recordNo, const std::uint16_t* regArr,
                        int recordLen) override;
    int readExceptionStatus() override;
    int reportSlaveId(char* buffer, int capacity) override;
    int runIndicatorStatus() override;
    int readDeviceIdObject(int objectId, char* buffer, int capacity) override;
    void signalTimeOut() override;

private:
    Callbacks callbacks_;
};

}  // namespace mbslave

// A data table for tests: it keeps registers and bits in plain arrays
// (indexed by start reference), can be told to refuse any operation, records
// every call with its arguments, the lock depth at the time of the call, the
// request context it was handed and the slave address that context showed
// then, and counts the master time-out notifications.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/data_table.hpp"

namespace mbslave::test {

struct Call {
    std::string operation;   // "lock", "unlock" or the data operation's name
    std::vector<int> args;   // integer arguments in order (references, counts, ids)
    std::vector<int> values; // data handed over on writes
    int lockDepth = 0;       // locks held while the operation ran
    const RequestInfo* info = nullptr;
    int contextAddress = -1; // info->slaveAddress during the call (-1: no context)
};

class RecordingTable : public DataTable {
public:
    static constexpr int kReferences = 65537;  // references 1..65536

    // Data, indexed by reference.
    std::vector<std::uint16_t> registers = std::vector<std::uint16_t>(kReferences, 0);
    std::vector<char> bits = std::vector<char>(kReferences, 0);
    // Answers of the operations that are not plain storage.
    int registers32Result = 0;          // readRegisters32: 0 declines
    int exceptionStatus = 0;
    std::vector<std::uint8_t> slaveId;  // reportSlaveId writes these bytes ...
    int slaveIdResult = -1;             // ... and returns this if >= 0, else their number
    int runIndicator = 0;
    std::array<std::vector<std::uint8_t>, 256> deviceIdObjects{};
    std::array<bool, 256> deviceIdPresent{};
    std::array<int, 256> deviceIdClaimedLength{};  // returned instead of the size when > 0
    // Names of operations that refuse (return 0).
    std::vector<std::string> refused;
    // File records: value of register i of a read = fileNo * 1000 + recordNo + i.
    std::vector<Call> calls;
    int timeOuts = 0;

    // An object whose callback writes `value` and reports its size, or
    // `claimedLength` when that is given.
    void addDeviceIdObject(int id, std::vector<std::uint8_t> value, int claimedLength = 0) {
        deviceIdObjects[static_cast<std::size_t>(id)] = std::move(value);
        deviceIdPresent[static_cast<std::size_t>(id)] = true;
        deviceIdClaimedLength[static_cast<std::size_t>(id)] = claimedLength;
    }
    bool refuses(const std::string& operation) const {
        for (const std::string& name : refused) {
            if (name == operation) return true;
        }
        return false;
    }
    // Names of the recorded calls in order, e.g. {"lock", "readCoils", "unlock"}.
    std::vector<std::string> sequence() const {
        std::vector<std::string> names;
        for (const Call& call : calls) names.push_back(call.operation);
        return names;
    }
    // The calls that reached the data: all but lock, unlock and a 32-bit read
    // the table declined (request processing then reads 16-bit registers).
    std::vector<Call> accesses() const {
        std::vector<Call> reached;
        for (const Call& call : calls) {
            const bool declined32 = call.operation == "readRegisters32" && registers32Result == 0;
            if (call.operation != "lock" && call.operation != "unlock" && !declined32) {
                reached.push_back(call);
            }
        }
        return reached;
    }
    const Call* find(const std::string& operation) const {
        for (const Call& call : calls) {
            if (call.operation == operation) return &call;
        }
        return nullptr;
    }
    int depth() const { return lockDepth; }

    int readHoldingRegisters(int startRef, std::uint16_t* regArr, int refCnt) override {
        if (!record("readHoldingRegisters", {startRef, refCnt})) return 0;
        copyOut(registers, startRef, regArr, refCnt);
        return 1;
    }
    int writeHoldingRegisters(int startRef, const std::uint16_t* regArr, int refCnt) override {
        if (!record("writeHoldingRegisters", {startRef, refCnt}, regArr, refCnt)) return 0;
        copyIn(registers, startRef, regArr, refCnt);
        return 1;
    }
    int readRegisters32(int startRef, std::int32_t* regArr, int refCnt) override {
        if (!record("readRegisters32", {startRef, refCnt})) return 0;
        for (int i = 0; i < refCnt; ++i) regArr[i] = static_cast<std::int32_t>(0x01020304u * (i + 1));
        return registers32Result;
    }
    int writeRegisters32(int startRef, const std::int32_t* regArr, int refCnt) override {
        return record("writeRegisters32", {startRef, refCnt}, regArr, refCnt) ? 1 : 0;
    }
    int readInputRegisters(int startRef, std::uint16_t* regArr, int refCnt) override {
        if (!record("readInputRegisters", {startRef, refCnt})) return 0;
        // Input register r holds r + 0x100, so it differs from holding registers.
        for (int i = 0; i < refCnt; ++i) regArr[i] = static_cast<std::uint16_t>(startRef + i + 0x100);
        return 1;
    }
    int readCoils(int startRef, char* bitArr, int refCnt) override {
        if (!record("readCoils", {startRef, refCnt})) return 0;
        copyOut(bits, startRef, bitArr, refCnt);
        return 1;
    }
    int writeCoils(int startRef, const char* bitArr, int refCnt) override {
        if (!record("writeCoils", {startRef, refCnt}, bitArr, refCnt)) return 0;
        copyIn(bits, startRef, bitArr, refCnt);
        return 1;
    }
    int readInputDiscretes(int startRef, char* bitArr, int refCnt) override {
        if (!record("readInputDiscretes", {startRef, refCnt})) return 0;
        // Discrete input r is ON when r is odd.
        for (int i = 0; i < refCnt; ++i) bitArr[i] = static_cast<char>((startRef + i) % 2 != 0 ? 5 : 0);
        return 1;
    }
    int readFileRecord(int refType, int fileNo, int recordNo, std::uint16_t* regArr,
                       int recordLen) override {
        if (!record("readFileRecord", {refType, fileNo, recordNo, recordLen})) return 0;
        for (int i = 0; i < recordLen; ++i) regArr[i] = static_cast<std::uint16_t>(fileNo * 1000 + recordNo + i);
        return 1;
    }
    int writeFileRecord(int refType, int fileNo, int recordNo, const std::uint16_t* regArr,
                        int recordLen) override {
        return record("writeFileRecord", {refType, fileNo, recordNo, recordLen}, regArr, recordLen) ? 1 : 0;
    }
    int readExceptionStatus() override {
        record("readExceptionStatus", {});
        return exceptionStatus;
    }
    int reportSlaveId(char* buffer, int capacity) override {
        record("reportSlaveId", {capacity});
        if (!slaveId.empty()) std::memcpy(buffer, slaveId.data(), slaveId.size());
        return slaveIdResult >= 0 ? slaveIdResult : static_cast<int>(slaveId.size());
    }
    int runIndicatorStatus() override {
        record("runIndicatorStatus", {});
        return runIndicator;
    }
    int readDeviceIdObject(int objectId, char* buffer, int capacity) override {
        record(buffer == nullptr ? "deviceIdExists" : "readDeviceIdObject", {objectId, capacity});
        if (objectId < 0 || objectId > 255 || !deviceIdPresent[static_cast<std::size_t>(objectId)]) return 0;
        const std::vector<std::uint8_t>& value = deviceIdObjects[static_cast<std::size_t>(objectId)];
        if (buffer != nullptr) {
            std::memcpy(buffer, value.data(), std::min(value.size(), static_cast<std::size_t>(capacity)));
        }
        const int claimed = deviceIdClaimedLength[static_cast<std::size_t>(objectId)];
        return claimed > 0 ? claimed : static_cast<int>(value.size());
    }
    void signalTimeOut() override { ++timeOuts; }
    void lock() override {
        ++lockDepth;
        record("lock", {});
    }
    void unlock() override {
        record("unlock", {});
        --lockDepth;
    }

private:
    template <typename T = int>
    bool record(const char* operation, std::vector<int> args, const T* data = nullptr, int count = 0) {
        Call call{operation, std::move(args), {}, lockDepth, requestInfo,
                  requestInfo != nullptr ? requestInfo->slaveAddress : -1};
        for (int i = 0; i < count && data != nullptr; ++i) call.values.push_back(static_cast<int>(data[i]));
        calls.push_back(std::move(call));
        return !refuses(operation);
    }
    template <typename T>
    static void copyOut(const std::vector<T>& store, int startRef, T* to, int count) {
        for (int i = 0; i < count; ++i) to[i] = store[static_cast<std::size_t>(startRef + i) % store.size()];
    }
    template <typename T>
    static void copyIn(std::vector<T>& store, int startRef, const T* from, int count) {
        for (int i = 0; i < count; ++i) store[static_cast<std::size_t>(startRef + i) % store.size()] = from[i];
    }

    int lockDepth = 0;
};

}  // namespace mbslave::test

// A data table that accepts every range of every operation. Reads answer a
// fixed pattern that depends only on the reference, so a master can check
// any read reply without knowing what was written before; writes are
// accepted and counted but change nothing. Each instance is independent, so
// servers in different threads each get their own.
#pragma once

#include <cstdint>
#include <cstring>

#include "engine/data_table.hpp"

namespace mbslave::test {

class PermissiveTable : public DataTable {
public:
    static std::uint16_t holdingValue(int reference) {
        return static_cast<std::uint16_t>(reference * 0x9E37u + 0x1234u);
    }
    static std::uint16_t inputValue(int reference) {
        return static_cast<std::uint16_t>(~holdingValue(reference));
    }
    static bool coilValue(int reference) { return reference % 3 == 0; }
    static bool discreteValue(int reference) { return reference % 5 != 0; }
    static std::uint16_t fileValue(int fileNo, int recordNo, int index) {
        return static_cast<std::uint16_t>(fileNo * 1000 + recordNo + index);
    }
    static constexpr int kExceptionStatus = 0x5A;
    static constexpr const char* kSlaveId = "mbslave";
    static constexpr const char* kDeviceIdObjects[3] = {"mbslave", "hard", "2.11"};

    // Data operations called that read and that write (lock and unlock not
    // counted), refused ones included.
    long reads = 0;
    long writes = 0;
    // Every write operation refuses.
    bool refuseWrites = false;
    // Lock and unlock calls must pair up.
    int lockDepth = 0;
    bool bracketBroken = false;

    int readHoldingRegisters(int startRef, std::uint16_t* regArr, int refCnt) override {
        touch(false);
        for (int i = 0; i < refCnt; ++i) regArr[i] = holdingValue(startRef + i);
        return 1;
    }
    int writeHoldingRegisters(int, const std::uint16_t*, int) override { return touch(true); }
    // Declines, so every register read takes the 16-bit path.
    int readRegisters32(int, std::int32_t*, int) override { return touch(false), 0; }
    int writeRegisters32(int, const std::int32_t*, int) override { return touch(true); }
    int readInputRegisters(int startRef, std::uint16_t* regArr, int refCnt) override {
        touch(false);
        for (int i = 0; i < refCnt; ++i) regArr[i] = inputValue(startRef + i);
        return 1;
    }
    int readCoils(int startRef, char* bitArr, int refCnt) override {
        touch(false);
        for (int i = 0; i < refCnt; ++i) bitArr[i] = coilValue(startRef + i) ? 1 : 0;
        return 1;
    }
    int writeCoils(int, const char*, int) override { return touch(true); }
    int readInputDiscretes(int startRef, char* bitArr, int refCnt) override {
        touch(false);
        for (int i = 0; i < refCnt; ++i) bitArr[i] = discreteValue(startRef + i) ? 1 : 0;
        return 1;
    }
    int readFileRecord(int, int fileNo, int recordNo, std::uint16_t* regArr, int recordLen) override {
        touch(false);
        for (int i = 0; i < recordLen; ++i) regArr[i] = fileValue(fileNo, recordNo, i);
        return 1;
    }
    int writeFileRecord(int, int, int, const std::uint16_t*, int) override { return touch(true); }
    int readExceptionStatus() override { return touch(false), kExceptionStatus; }
    int reportSlaveId(char* buffer, int) override {
        touch(false);
        const int length = static_cast<int>(std::strlen(kSlaveId));
        std::memcpy(buffer, kSlaveId, static_cast<std::size_t>(length));
        return length;
    }
    int runIndicatorStatus() override { return 1; }
    int readDeviceIdObject(int objectId, char* buffer, int) override {
        if (objectId < 0 || objectId > 2) return 0;
        const char* value = kDeviceIdObjects[objectId];
        const int length = static_cast<int>(std::strlen(value));
        if (buffer != nullptr) {
            touch(false);
            std::memcpy(buffer, value, static_cast<std::size_t>(length));
        }
        return length;
    }
    void lock() override {
        if (++lockDepth != 1) bracketBroken = true;
    }
    void unlock() override {
        if (--lockDepth != 0) bracketBroken = true;
    }

private:
    int touch(bool isWrite) {
        ++(isWrite ? writes : reads);
        if (lockDepth != 1) bracketBroken = true;
        return isWrite && refuseWrites ? 0 : 1;
    }
};

}  // namespace mbslave::test

// A data table for framing tests: registers and coils in plain arrays
// (indexed by reference), every data access recorded with the slave
// address the request context showed at that moment, and the time-out
// notifications counted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/data_table.hpp"

namespace mbslave::test {

class ServedTable : public DataTable {
public:
    struct Access {
        std::string operation;
        int startRef;
        int count;
        int contextAddress;  // requestInfo->slaveAddress during the call
    };

    static constexpr int kReferences = 65537;  // references 1..65536
    std::vector<std::uint16_t> registers = std::vector<std::uint16_t>(kReferences, 0);
    std::vector<char> coils = std::vector<char>(kReferences, 0);
    std::vector<Access> accesses;
    int timeOuts = 0;
    bool refuseWrites = false;

    int readHoldingRegisters(int startRef, std::uint16_t* regArr, int refCnt) override {
        record("readHoldingRegisters", startRef, refCnt);
        for (int i = 0; i < refCnt; ++i) regArr[i] = registers[index(startRef + i)];
        return 1;
    }
    int writeHoldingRegisters(int startRef, const std::uint16_t* regArr, int refCnt) override {
        record("writeHoldingRegisters", startRef, refCnt);
        if (refuseWrites) return 0;
        for (int i = 0; i < refCnt; ++i) registers[index(startRef + i)] = regArr[i];
        return 1;
    }
    int readCoils(int startRef, char* bitArr, int refCnt) override {
        record("readCoils", startRef, refCnt);
        for (int i = 0; i < refCnt; ++i) bitArr[i] = coils[index(startRef + i)];
        return 1;
    }
    int writeCoils(int startRef, const char* bitArr, int refCnt) override {
        record("writeCoils", startRef, refCnt);
        if (refuseWrites) return 0;
        for (int i = 0; i < refCnt; ++i) coils[index(startRef + i)] = bitArr[i];
        return 1;
    }
    void signalTimeOut() override { ++timeOuts; }

private:
    static std::size_t index(int reference) {
        return static_cast<std::size_t>(reference) % kReferences;
    }
    void record(const char* operation, int startRef, int count) {
        const int address = requestInfo != nullptr ? requestInfo->slaveAddress : -1;
        accesses.push_back({operation, startRef, count, address});
    }
};

}  // namespace mbslave::test

// The data of one simulated slave address: the four Modbus tables, file
// records, device identification objects, report-slave-id text, exception
// status and run indicator. Start references are 1-based as the library
// hands them over (wire address + 1); every operation checks its range and
// refuses (false / 0) what lies outside, which the master sees as an
// exception response.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "sparse_table.hpp"

namespace sim {

// Records per file, as the Modbus file record functions number them (0..9999).
constexpr int kFileRecords = 10000;
// The only reference type of the file record functions.
constexpr int kFileReferenceType = 6;
// Longest device identification value that fits a reply with its header.
constexpr int kMaxDeviceIdValue = 243;
// Longest report-slave-id text (the run indicator byte follows it).
constexpr int kMaxSlaveIdText = 249;

// Number of input registers, from address 0, whose values the demo device
// computes while it runs.
constexpr int kLiveInputRegisters = 4;

class UnitModel {
public:
    SparseTable<std::uint16_t> holding;
    SparseTable<std::uint16_t> input;
    SparseTable<std::uint8_t> coils;
    SparseTable<std::uint8_t> discretes;
    std::map<int, SparseTable<std::uint16_t>> files;  // file number -> records
    std::map<int, std::string> deviceId;              // object id -> value
    std::string slaveId;
    std::uint8_t exceptionStatus = 0;
    bool runIndicator = true;
    bool live = false;  // demo values in the first input registers and discretes

    bool readHolding(int startRef, std::uint16_t out[], int count) const;
    bool writeHolding(int startRef, const std::uint16_t values[], int count);
    // uptimeMs drives the live demo values.
    bool readInput(int startRef, std::uint16_t out[], int count, std::uint64_t uptimeMs) const;
    bool readCoils(int startRef, char out[], int count) const;
    bool writeCoils(int startRef, const char values[], int count);
    bool readDiscretes(int startRef, char out[], int count, std::uint64_t uptimeMs) const;

    bool readFile(int refType, int file, int record, std::uint16_t out[], int count) const;
    bool writeFile(int refType, int file, int record, const std::uint16_t values[], int count);

    // Device identification object: length of its value, 0 if absent. With a
    // null buffer only reports the length; otherwise copies the value if it
    // fits the capacity.
    int deviceIdObject(int objectId, char buffer[], int capacity) const;
    // Copies the report-slave-id text; its length, 0 if empty or too long.
    int reportSlaveId(char buffer[], int capacity) const;
};

// True if the references startRef .. startRef + count - 1 are wire addresses
// 0..65535.
bool referencesInRange(int startRef, int count);

}  // namespace sim

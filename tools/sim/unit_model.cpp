#include "unit_model.hpp"

#include <cstring>

#include "demo_device.hpp"

namespace sim {

bool referencesInRange(int startRef, int count) {
    return count >= 1 && startRef >= 1 &&
           static_cast<long>(startRef) - 1 + count <= SparseTable<std::uint16_t>::kSize;
}

namespace {

std::uint16_t wireAddress(int startRef, int index) {
    return static_cast<std::uint16_t>(startRef - 1 + index);
}

template <typename Value, typename Out>
bool readTable(const SparseTable<Value>& table, int startRef, Out out[], int count) {
    if (!referencesInRange(startRef, count)) return false;
    for (int i = 0; i < count; ++i) out[i] = static_cast<Out>(table.get(wireAddress(startRef, i)));
    return true;
}

template <typename Value, typename In>
bool writeTable(SparseTable<Value>& table, int startRef, const In values[], int count) {
    if (!referencesInRange(startRef, count)) return false;
    for (int i = 0; i < count; ++i) table.set(wireAddress(startRef, i), static_cast<Value>(values[i]));
    return true;
}

bool recordsInRange(int refType, int record, int count) {
    return refType == kFileReferenceType && record >= 0 && count >= 1 &&
           record + count <= kFileRecords;
}

}  // namespace

bool UnitModel::readHolding(int startRef, std::uint16_t out[], int count) const {
    return readTable(holding, startRef, out, count);
}

bool UnitModel::writeHolding(int startRef, const std::uint16_t values[], int count) {
    return writeTable(holding, startRef, values, count);
}

bool UnitModel::readInput(int startRef, std::uint16_t out[], int count, std::uint64_t uptimeMs) const {
    if (!readTable(input, startRef, out, count)) return false;
    if (live) {
        for (int i = 0; i < count; ++i) {
            const int address = startRef - 1 + i;
            if (address < kLiveInputRegisters) out[i] = demoInputRegister(address, uptimeMs);
        }
    }
    return true;
}

bool UnitModel::readCoils(int startRef, char out[], int count) const {
    return readTable(coils, startRef, out, count);
}

bool UnitModel::writeCoils(int startRef, const char values[], int count) {
    return writeTable(coils, startRef, values, count);
}

bool UnitModel::readDiscretes(int startRef, char out[], int count, std::uint64_t uptimeMs) const {
    if (!readTable(discretes, startRef, out, count)) return false;
    if (live && startRef == 1) out[0] = static_cast<char>(demoBlinkingInput(uptimeMs));
    return true;
}

bool UnitModel::readFile(int refType, int file, int record, std::uint16_t out[], int count) const {
    const auto found = files.find(file);
    if (found == files.end() || !recordsInRange(refType, record, count)) return false;
    for (int i = 0; i < count; ++i) out[i] = found->second.get(static_cast<std::uint16_t>(record + i));
    return true;
}

bool UnitModel::writeFile(int refType, int file, int record, const std::uint16_t values[], int count) {
    const auto found = files.find(file);
    if (found == files.end() || !recordsInRange(refType, record, count)) return false;
    for (int i = 0; i < count; ++i) found->second.set(static_cast<std::uint16_t>(record + i), values[i]);
    return true;
}

int UnitModel::deviceIdObject(int objectId, char buffer[], int capacity) const {
    const auto found = deviceId.find(objectId);
    if (found == deviceId.end() || found->second.empty()) return 0;
    const int length = static_cast<int>(found->second.size());
    if (buffer == nullptr) return length;
    if (length > capacity) return 0;
    std::memcpy(buffer, found->second.data(), static_cast<std::size_t>(length));
    return length;
}

int UnitModel::reportSlaveId(char buffer[], int capacity) const {
    const int length = static_cast<int>(slaveId.size());
    if (length == 0 || length > capacity || length > kMaxSlaveIdText) return 0;
    std::memcpy(buffer, slaveId.data(), static_cast<std::size_t>(length));
    return length;
}

}  // namespace sim

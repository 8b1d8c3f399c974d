// A data table whose every answer is read from a byte stream (the fuzz
// input): success or refusal, the data of reads, and the lengths of the
// identification queries, which may be negative or exceed the capacity.
// It also checks what request processing hands it and how it brackets.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/data_table.hpp"

namespace mbslave::fuzz {

class FuzzedDataTable : public DataTable {
public:
    // Answers come from answers[0..size); the stream reads as 0 once used up.
    void reset(const std::uint8_t* answers, std::size_t size) {
        stream = answers;
        remaining = size;
        lockDepth = 0;
        existence = nullptr;
        problem = nullptr;
    }

    // The first misuse seen since reset, or null.
    const char* problem = nullptr;
    int lockDepth = 0;

    int readHoldingRegisters(int, std::uint16_t* regArr, int refCnt) override {
        return fill(regArr, refCnt, 125);
    }
    int writeHoldingRegisters(int, const std::uint16_t*, int refCnt) override {
        return answer(refCnt, 125);
    }
    int readRegisters32(int, std::int32_t* regArr, int refCnt) override { return fill(regArr, refCnt, 62); }
    int writeRegisters32(int, const std::int32_t*, int refCnt) override { return answer(refCnt, 62); }
    int readInputRegisters(int, std::uint16_t* regArr, int refCnt) override {
        return fill(regArr, refCnt, 125);
    }
    int readCoils(int, char* bitArr, int refCnt) override { return fill(bitArr, refCnt, 2000); }
    int writeCoils(int, const char* bitArr, int refCnt) override {
        for (int i = 0; i < refCnt && i < 2000; ++i) {
            if (bitArr[i] != 0 && bitArr[i] != 1) report("bit array holds a value other than 0 and 1");
        }
        return answer(refCnt, 2000);
    }
    int readInputDiscretes(int, char* bitArr, int refCnt) override { return fill(bitArr, refCnt, 2000); }
    int readFileRecord(int, int, int, std::uint16_t* regArr, int recordLen) override {
        return fill(regArr, recordLen, 125);
    }
    int writeFileRecord(int, int, int, const std::uint16_t*, int recordLen) override {
        return answer(recordLen, 125);
    }
    int readExceptionStatus() override {
        expectBracketed();
        return static_cast<std::int16_t>(next16());
    }
    int reportSlaveId(char* buffer, int capacity) override {
        expectBracketed();
        if (capacity != 250) report("slave id capacity is not 250");
        return writeValue(buffer, capacity);
    }
    int runIndicatorStatus() override {
        if (lockDepth != 0) report("run indicator asked inside a bracket");
        return nextByte();
    }
    // Existence (null buffer) answers from a 32-byte bitmap read at the first
    // query; the value's length is read separately, so the two may disagree.
    int readDeviceIdObject(int objectId, char* buffer, int capacity) override {
        if (objectId < 0 || objectId > 255) report("object id out of range");
        if (buffer == nullptr) {
            if (capacity != 0) report("existence query with a capacity");
            if (lockDepth != 0) report("existence query inside a bracket");
            if (existence == nullptr) existence = take(32);
            const int index = objectId & 0xFF;
            return existence != nullptr && ((existence[index / 8] >> (index % 8)) & 1) != 0 ? 1 : 0;
        }
        expectBracketed();
        if (capacity != 245) report("object capacity is not 245");
        return writeValue(buffer, capacity);
    }
    void lock() override {
        if (++lockDepth != 1) report("nested lock");
    }
    void unlock() override {
        if (--lockDepth != 0) report("unlock without lock");
    }

private:
    void report(const char* what) {
        if (problem == nullptr) problem = what;
    }
    void expectBracketed() {
        if (lockDepth != 1) report("data operation outside a bracket");
        if (requestInfo == nullptr) report("data operation without request context");
    }
    std::uint8_t nextByte() {
        if (remaining == 0) return 0;
        --remaining;
        return *stream++;
    }
    std::uint16_t next16() {
        const std::uint16_t high = nextByte();
        return static_cast<std::uint16_t>((high << 8) | nextByte());
    }
    const std::uint8_t* take(std::size_t count) {
        if (remaining < count) return nullptr;
        const std::uint8_t* taken = stream;
        stream += count;
        remaining -= count;
        return taken;
    }
    // Success unless the next answer byte is 0 (or the stream is used up).
    int answer(int count, int capacity) {
        expectBracketed();
        if (count < 1 || count > capacity) report("count out of range");
        return nextByte() != 0 ? 1 : 0;
    }
    // Fills the array from a generator seeded by the stream, then answers.
    template <typename T>
    int fill(T* values, int count, int capacity) {
        std::uint32_t state = 0x9E3779B9u ^ next16();
        for (int i = 0; i < count && i < capacity; ++i) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            values[i] = static_cast<T>(state);
        }
        return answer(count, capacity);
    }
    // A signed 16-bit length; at most the capacity is written.
    int writeValue(char* buffer, int capacity) {
        const int length = static_cast<std::int16_t>(next16());
        for (int i = 0; i < length && i < capacity; ++i) buffer[i] = static_cast<char>(nextByte() | 1);
        return length;
    }

    const std::uint8_t* stream = nullptr;
    std::size_t remaining = 0;
    const std::uint8_t* existence = nullptr;
};

}  // namespace mbslave::fuzz

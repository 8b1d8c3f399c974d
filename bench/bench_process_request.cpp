// Nanoseconds per request for processRequest with a data table that only
// copies memory, for the common function codes at their typical sizes.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/slave_protocol.hpp"

namespace {

using mbslave::DataTable;

// Registers and coils in plain arrays indexed by reference; three
// identification objects.
class MemcpyTable : public DataTable {
public:
    MemcpyTable() {
        for (std::size_t i = 0; i < registers.size(); ++i) registers[i] = static_cast<std::uint16_t>(i * 7);
        for (std::size_t i = 0; i < coils.size(); ++i) coils[i] = static_cast<char>(i % 3 == 0);
    }
    int readHoldingRegisters(int startRef, std::uint16_t* regArr, int refCnt) override {
        std::memcpy(regArr, &registers[static_cast<std::size_t>(startRef)], sizeof(std::uint16_t) * static_cast<std::size_t>(refCnt));
        return 1;
    }
    int writeHoldingRegisters(int startRef, const std::uint16_t* regArr, int refCnt) override {
        std::memcpy(&registers[static_cast<std::size_t>(startRef)], regArr, sizeof(std::uint16_t) * static_cast<std::size_t>(refCnt));
        return 1;
    }
    int readCoils(int startRef, char* bitArr, int refCnt) override {
        std::memcpy(bitArr, &coils[static_cast<std::size_t>(startRef)], static_cast<std::size_t>(refCnt));
        return 1;
    }
    int readDeviceIdObject(int objectId, char* buffer, int capacity) override {
        static const char* const kObjects[] = {"mbslave project", "mbslave", "2.11.0"};
        if (objectId < 0 || objectId > 2) return 0;
        const int length = static_cast<int>(std::strlen(kObjects[objectId]));
        if (buffer != nullptr && length <= capacity) std::memcpy(buffer, kObjects[objectId], static_cast<std::size_t>(length));
        return length;
    }

private:
    std::vector<std::uint16_t> registers = std::vector<std::uint16_t>(65537 + 125);
    std::vector<char> coils = std::vector<char>(65537 + 2000);
};

class BenchProtocol : public mbslave::SlaveProtocol {
public:
    void shutdownServer() override {}

protected:
    int servePass() override { return MB_OK; }  // replies stay in the frame
};

std::vector<std::uint8_t> withRegisters(std::vector<std::uint8_t> head, int count) {
    for (int i = 0; i < count; ++i) {
        head.push_back(static_cast<std::uint8_t>(i));
        head.push_back(static_cast<std::uint8_t>(i * 3));
    }
    return head;
}

// One request per iteration: the request is copied into the frame (the reply
// overwrites it) and processed.
void runRequest(benchmark::State& state, const std::vector<std::uint8_t>& request, int expectedLength) {
    BenchProtocol protocol;
    MemcpyTable table;
    protocol.setDataTable(1, &table);
    std::uint8_t frame[256];
    int length = 0;
    for (auto _ : state) {
        std::memcpy(frame, request.data(), request.size());
        length = protocol.processRequest(frame, static_cast<int>(request.size()));
        benchmark::DoNotOptimize(frame);
        benchmark::DoNotOptimize(length);
    }
    if (length != expectedLength) state.SkipWithError("unexpected reply length");
}

void BM_ReadHoldingRegisters10(benchmark::State& state) { runRequest(state, {1, 3, 0, 100, 0, 10}, 23); }
void BM_ReadHoldingRegisters125(benchmark::State& state) { runRequest(state, {1, 3, 0, 100, 0, 125}, 253); }
void BM_WriteMultipleRegisters123(benchmark::State& state) {
    runRequest(state, withRegisters({1, 16, 0, 100, 0, 123, 246}, 123), 6);
}
void BM_ReadCoils2000(benchmark::State& state) { runRequest(state, {1, 1, 0, 100, 0x07, 0xD0}, 253); }
void BM_ReadWriteMultipleRegisters(benchmark::State& state) {
    runRequest(state, withRegisters({1, 23, 0, 100, 0, 10, 0, 200, 0, 10, 20}, 10), 23);
}
void BM_ReadDeviceIdentificationBasic(benchmark::State& state) { runRequest(state, {1, 43, 14, 1, 0}, 42); }

BENCHMARK(BM_ReadHoldingRegisters10);
BENCHMARK(BM_ReadHoldingRegisters125);
BENCHMARK(BM_WriteMultipleRegisters123);
BENCHMARK(BM_ReadCoils2000);
BENCHMARK(BM_ReadWriteMultipleRegisters);
BENCHMARK(BM_ReadDeviceIdentificationBasic);

}  // namespace

BENCHMARK_MAIN();

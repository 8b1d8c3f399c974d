// Baseline: libmodbus's modbus_reply() answering the same requests from its
// register mapping. modbus_reply() always sends its reply; here it goes to
// /dev/null through send(), which fails at once (not a socket), so its
// figures include one failing system call, measured on its own as well.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <modbus.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

// MBAP header (transaction 1, protocol 0, length) and unit 1 before the PDU.
std::vector<std::uint8_t> mbap(const std::vector<std::uint8_t>& pdu) {
    const std::size_t length = pdu.size() + 1;
    std::vector<std::uint8_t> request(7 + pdu.size());
    request[1] = 1;
    request[4] = static_cast<std::uint8_t>(length >> 8);
    request[5] = static_cast<std::uint8_t>(length);
    request[6] = 1;
    std::copy(pdu.begin(), pdu.end(), request.begin() + 7);
    return request;
}

void runLibmodbus(benchmark::State& state, const std::vector<std::uint8_t>& request) {
    modbus_t* context = modbus_new_tcp("127.0.0.1", 1502);  // never connected
    modbus_mapping_t* mapping = modbus_mapping_new(65535, 0, 65535, 0);
    const int sink = open("/dev/null", O_WRONLY | O_CLOEXEC);
    modbus_set_socket(context, sink);
    std::vector<std::uint8_t> frame(request);
    for (auto _ : state) {
        frame = request;
        const int result = modbus_reply(context, frame.data(), static_cast<int>(frame.size()), mapping);
        benchmark::DoNotOptimize(result);
    }
    close(sink);
    modbus_mapping_free(mapping);
    modbus_free(context);
}

void BM_Libmodbus_ReadHoldingRegisters10(benchmark::State& state) { runLibmodbus(state, mbap({3, 0, 100, 0, 10})); }
void BM_Libmodbus_ReadHoldingRegisters125(benchmark::State& state) { runLibmodbus(state, mbap({3, 0, 100, 0, 125})); }
void BM_Libmodbus_WriteMultipleRegisters123(benchmark::State& state) {
    std::vector<std::uint8_t> pdu = {16, 0, 100, 0, 123, 246};
    pdu.resize(pdu.size() + 246, 0x5A);
    runLibmodbus(state, mbap(pdu));
}
void BM_Libmodbus_ReadCoils2000(benchmark::State& state) { runLibmodbus(state, mbap({1, 0, 100, 0x07, 0xD0})); }

// The failing send() that every libmodbus figure above contains.
void BM_FailingSendSyscall(benchmark::State& state) {
    const int sink = open("/dev/null", O_WRONLY | O_CLOEXEC);
    std::uint8_t reply[260] = {};
    for (auto _ : state) {
        const ssize_t sent = send(sink, reply, sizeof reply, MSG_NOSIGNAL);
        benchmark::DoNotOptimize(sent);
    }
    close(sink);
}

BENCHMARK(BM_Libmodbus_ReadHoldingRegisters10);
BENCHMARK(BM_Libmodbus_ReadHoldingRegisters125);
BENCHMARK(BM_Libmodbus_WriteMultipleRegisters123);
BENCHMARK(BM_Libmodbus_ReadCoils2000);
BENCHMARK(BM_FailingSendSyscall);

}  // namespace

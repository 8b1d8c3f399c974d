// libFuzzer target: Modbus/TCP Security handshake.
#include "fuzz_entries.hpp"
#include "run_or_abort.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return mbslave::fuzz::runOrAbort("Modbus/TCP Security handshake", &mbslave::fuzz::tlsHandshakeEntry, data, size);
}

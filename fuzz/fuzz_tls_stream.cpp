// libFuzzer target: Modbus/TCP Security stream after decryption.
#include "fuzz_entries.hpp"
#include "run_or_abort.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return mbslave::fuzz::runOrAbort("Modbus/TCP Security stream after decryption", &mbslave::fuzz::tlsStreamEntry, data, size);
}

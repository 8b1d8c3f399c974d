// libFuzzer target: RTU over TCP connection.
#include "fuzz_entries.hpp"
#include "run_or_abort.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return mbslave::fuzz::runOrAbort("RTU over TCP connection", &mbslave::fuzz::rtuOverTcpStreamEntry, data, size);
}

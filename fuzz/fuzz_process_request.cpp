// libFuzzer target: processRequest with a data table driven by the input.
#include <cstdio>
#include <cstdlib>

#include "fuzz_entries.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (const char* problem = mbslave::fuzz::processRequestEntry(data, size)) {
        std::fprintf(stderr, "processRequest: %s\n", problem);
        std::abort();
    }
    return 0;
}

// Body of every libFuzzer target: run the entry function, abort with its
// message when it reports a broken invariant.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace mbslave::fuzz {

using Entry = const char* (*)(const std::uint8_t*, std::size_t);

inline int runOrAbort(const char* target, Entry entry, const std::uint8_t* data, std::size_t size) {
    if (const char* problem = entry(data, size)) {
        std::fprintf(stderr, "%s: %s\n", target, problem);
        std::abort();
    }
    return 0;
}

}  // namespace mbslave::fuzz

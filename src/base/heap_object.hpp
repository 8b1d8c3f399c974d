// Heap memory for the library's own objects, taken straight from the C
// library: the run time of the library is the C library alone, so neither
// the C++ allocation functions nor their exceptions are used.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>

namespace mbslave {

// Base of the classes the library creates on the heap and of its classes
// with virtual destructors (whose deleting destructors would otherwise call
// the C++ run time's operator delete). Allocation never throws: a failed one
// gives null and nothing is constructed.
class HeapObject {
public:
    static void* operator new(std::size_t size) noexcept { return std::malloc(size); }
    static void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
        return std::malloc(size);
    }
    static void operator delete(void* block) noexcept { std::free(block); }
};

struct FreeDeleter {
    void operator()(void* block) const noexcept { std::free(block); }
};

// A zero-terminated text in a block from malloc.
using HeapText = std::unique_ptr<char[], FreeDeleter>;

}  // namespace mbslave

// The number of descriptors (on Windows: handles, sockets among them) the
// process holds open, for leak checks.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include <cstdint>
#else
#include <dirent.h>
#endif

namespace mbslave::test {

inline int openDescriptorCount() {
#ifdef _WIN32
    // Every valid handle value below 8192 (handle values are multiples of
    // 4, handed out from the bottom; a test process holds a few dozen).
    // GetProcessHandleCount would be simpler, but wine always reports 0.
    int count = 0;
    for (std::uintptr_t value = 4; value < 8192; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    }
    return count;
#else
    DIR* directory = opendir("/proc/self/fd");
    if (directory == nullptr) return -1;
    int count = 0;
    while (readdir(directory) != nullptr) ++count;
    closedir(directory);
    return count;
#endif
}

}  // namespace mbslave::test

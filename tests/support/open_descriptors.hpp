// The number of descriptors the process holds open, for leak checks.
#pragma once

#include <dirent.h>

namespace mbslave::test {

inline int openDescriptorCount() {
    DIR* directory = opendir("/proc/self/fd");
    if (directory == nullptr) return -1;
    int count = 0;
    while (readdir(directory) != nullptr) ++count;
    closedir(directory);
    return count;
}

}  // namespace mbslave::test

// Holding-register callbacks that hand out a fixed pattern, keep what was
// written and record the request context of every call.
#pragma once

#include <cstdint>
#include <vector>

#include "mbslave.h"

namespace mbslave::test {

// Register values the callbacks hand out: 0x1000 + reference.
inline std::uint16_t registerValue(int reference) {
    return static_cast<std::uint16_t>(0x1000 + reference);
}

struct RegisterStore {
    static inline std::vector<RequestInfo> contexts;
    static inline std::vector<std::uint16_t> written;
    static inline int writtenStart = 0;

    static void reset() {
        contexts.clear();
        written.clear();
        writtenStart = 0;
    }
    static int readHolding(int startRef, std::uint16_t regArr[], int refCnt, const RequestInfo* info) {
        contexts.push_back(*info);
        for (int i = 0; i < refCnt; ++i) regArr[i] = registerValue(startRef + i);
        return 1;
    }
    static int writeHolding(int startRef, const std::uint16_t regArr[], int refCnt,
                            const RequestInfo* info) {
        contexts.push_back(*info);
        writtenStart = startRef;
        written.assign(regArr, regArr + refCnt);
        return 1;
    }
};

}  // namespace mbslave::test

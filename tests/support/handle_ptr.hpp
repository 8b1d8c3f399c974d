// A handle of the C interface owned by a test: destroyed through the
// interface when the owner goes.
#pragma once

#include <memory>

#include "mbslave.h"

namespace mbslave::test {

struct HandleDeleter {
    void operator()(MbusSlaveHandle* handle) const { mbusSlave_destroyProtocol(handle); }
};
using HandlePtr = std::unique_ptr<MbusSlaveHandle, HandleDeleter>;

}  // namespace mbslave::test

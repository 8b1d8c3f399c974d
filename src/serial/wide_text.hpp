// Wide (UTF-16) texts of the C interface turned into 8-bit (UTF-8) ones.
#pragma once

#include "base/heap_object.hpp"
#include "mbslave.h"

namespace mbslave {

// The UTF-8 form of a zero-terminated UTF-16 text, never truncated; an
// unpaired surrogate becomes U+FFFD. A null text gives an empty one. Null
// only when memory is exhausted.
HeapText toUtf8(const MbWideChar* text) noexcept;

}  // namespace mbslave

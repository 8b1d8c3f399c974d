// Conversions between the library's UTF-16 texts and the UTF-8 of the
// command line and the terminal.
#pragma once

#include <string>
#include <string_view>

#include "mbslave.h"

namespace sim {

// A zero-terminated UTF-16 text as UTF-8 (unpaired surrogates become U+FFFD).
std::string toUtf8(const MbWideChar* text);

// UTF-8 as UTF-16; nothing and false for malformed UTF-8.
bool toUtf16(std::string_view text, std::u16string& out);

}  // namespace sim

// Whole numbers as the simulator reads them from the command line, the map
// file, the web page and sysfs: decimal with an optional minus sign, or 0x
// hexadecimal (no sign); nothing else (no blanks, no plus sign).
#pragma once

#include <optional>
#include <string_view>

namespace sim {

// The number, or nothing if the text is not one. A number too large for a
// long comes back as the largest (or smallest) long, outside every range
// the callers accept.
std::optional<long> parseWholeNumber(std::string_view text);

// The number if the text is one and lies within low..high.
std::optional<long> parseNumberIn(std::string_view text, long low, long high);

}  // namespace sim

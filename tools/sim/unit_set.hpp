// The set of slave addresses (units) the simulator serves, given on the
// command line as "1,2,10-20" or "all".
#pragma once

#include <bitset>
#include <optional>
#include <string>
#include <string_view>

namespace sim {

using UnitSet = std::bitset<256>;

// Parses a unit list. On a serial line address 0 is the broadcast address:
// it cannot be listed, and "all" means 1..255; on IP "all" means 0..255.
// Returns nothing and sets error for a malformed list.
std::optional<UnitSet> parseUnitList(std::string_view text, bool serialLine, std::string& error);

// "1-3,7,10-20": the numbers of a set in ascending order with runs
// collapsed; "none" for an empty set.
std::string formatRanges(const std::bitset<256>& numbers);

}  // namespace sim

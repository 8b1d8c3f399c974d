#include "unit_set.hpp"

#include "library_limits.hpp"
#include "number_text.hpp"

namespace sim {

namespace {

std::optional<int> parseAddress(std::string_view text) {
    const auto value = parseNumberIn(text, 0, library::kMaxSlaveAddress);
    if (!value) return std::nullopt;
    return static_cast<int>(*value);
}

}  // namespace

std::optional<UnitSet> parseUnitList(std::string_view text, bool serialLine, std::string& error) {
    UnitSet units;
    if (text == "all") {
        units.set();
        if (serialLine) units.reset(library::kBroadcastAddress);
        return units;
    }
    while (true) {
        const auto comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        const auto dash = item.find('-');
        const auto first = parseAddress(item.substr(0, dash));
        const auto last = dash == std::string_view::npos ? first : parseAddress(item.substr(dash + 1));
        if (!first || !last) {
            error = "'" + std::string(item) + "' is not a unit address 0..255 or a range like 10-20";
            return std::nullopt;
        }
        if (*first > *last) {
            error = "range '" + std::string(item) + "' runs backwards";
            return std::nullopt;
        }
        if (serialLine && *first == library::kBroadcastAddress) {
            error = "unit 0 is the broadcast address on a serial line; use 1..255";
            return std::nullopt;
        }
        for (int unit = *first; unit <= *last; ++unit) units.set(static_cast<std::size_t>(unit));
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    return units;
}

std::string formatRanges(const std::bitset<256>& numbers) {
    std::string text;
    int unit = 0;
    while (unit < 256) {
        if (!numbers.test(static_cast<std::size_t>(unit))) {
            ++unit;
            continue;
        }
        int last = unit;
        while (last + 1 < 256 && numbers.test(static_cast<std::size_t>(last + 1))) ++last;
        if (!text.empty()) text += ',';
        text += std::to_string(unit);
        if (last > unit) text += '-' + std::to_string(last);
        unit = last + 1;
    }
    return text.empty() ? "none" : text;
}

}  // namespace sim

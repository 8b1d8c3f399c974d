#include "number_text.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <limits>

namespace sim {

std::optional<long> parseWholeNumber(std::string_view text) {
    bool negative = false;
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    } else if (!text.empty() && text.front() == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    const auto digit = [base](unsigned char c) { return base == 16 ? std::isxdigit(c) != 0 : std::isdigit(c) != 0; };
    if (text.empty() || !std::all_of(text.begin(), text.end(), digit)) return std::nullopt;
    unsigned long value = 0;
    // Only digits are left, so only their number can fail.
    const auto error = std::from_chars(text.data(), text.data() + text.size(), value, base).ec;
    constexpr auto kMax = static_cast<unsigned long>(std::numeric_limits<long>::max());
    if (error != std::errc{} || value > kMax) {
        return negative ? std::numeric_limits<long>::min() : std::numeric_limits<long>::max();
    }
    return negative ? -static_cast<long>(value) : static_cast<long>(value);
}

std::optional<long> parseNumberIn(std::string_view text, long low, long high) {
    const auto value = parseWholeNumber(text);
    if (!value || *value < low || *value > high) return std::nullopt;
    return value;
}

}  // namespace sim

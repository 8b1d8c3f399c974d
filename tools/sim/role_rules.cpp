#include "role_rules.hpp"

#include "number_text.hpp"
#include "text_file.hpp"

namespace sim {

namespace {

constexpr std::size_t kMaxRulesFileBytes = std::size_t{1} << 20;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view trim(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

std::optional<int> functionCode(std::string_view text) {
    const auto value = parseNumberIn(text, 1, kMaxFunctionCode);
    if (!value) return std::nullopt;
    return static_cast<int>(*value);
}

// "*" or codes and ranges ("1 2 3", "1-4, 15"); a message for anything else.
std::optional<FunctionCodes> parseCodes(std::string_view text, std::string& error) {
    FunctionCodes codes;
    if (text == "*") return codes.set().reset(0);
    std::size_t position = 0;
    while (position < text.size()) {
        if (isBlank(text[position]) || text[position] == ',') {
            ++position;
            continue;
        }
        std::size_t end = position;
        while (end < text.size() && !isBlank(text[end]) && text[end] != ',') ++end;
        const std::string_view item = text.substr(position, end - position);
        position = end;
        if (item == "*") {
            error = "'*' stands alone: it is every function code";
            return std::nullopt;
        }
        const auto dash = item.find('-', 1);
        const auto first = functionCode(item.substr(0, dash));
        const auto last = dash == std::string_view::npos ? first : functionCode(item.substr(dash + 1));
        if (!first || !last || *first > *last) {
            error = "'" + std::string(item) + "' is not a function code 1.." + std::to_string(kMaxFunctionCode) +
                    " or a range like 1-4";
            return std::nullopt;
        }
        for (int code = *first; code <= *last; ++code) codes.set(static_cast<std::size_t>(code));
    }
    if (codes.none()) {
        error = "no function codes (give * or a list like 1 2 3 4)";
        return std::nullopt;
    }
    return codes;
}

}  // namespace

bool RoleRules::allows(const char* role, int functionCode) const {
    if (functionCode < 0 || functionCode > kMaxFunctionCode) return false;
    const auto found = codes_.find(role != nullptr ? std::string_view(role) : kNoRoleName);
    return found != codes_.end() && found->second.test(static_cast<std::size_t>(functionCode));
}

std::optional<RoleRules> RoleRules::parse(std::string_view text, std::string& error) {
    RoleRules rules;
    int lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const auto newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        const auto hash = line.find('#');
        line = trim(line.substr(0, hash));
        if (line.empty()) continue;
        const std::string where = "line " + std::to_string(lineNumber) + ": ";
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) {
            error = where + "'" + std::string(line) + "' is not 'role: function codes'";
            return std::nullopt;
        }
        const std::string_view role = trim(line.substr(0, colon));
        if (role.empty()) {
            error = where + "no role before ':' (masters without a role: " + std::string(kNoRoleName) + ")";
            return std::nullopt;
        }
        if (role.size() > kMaxRoleLength) {
            error = where + "a role has at most " + std::to_string(kMaxRoleLength) + " bytes";
            return std::nullopt;
        }
        std::string codesError;
        const auto codes = parseCodes(trim(line.substr(colon + 1)), codesError);
        if (!codes) {
            error = where + std::string(role) + ": " + codesError;
            return std::nullopt;
        }
        if (!rules.codes_.emplace(std::string(role), *codes).second) {
            error = where + "role '" + std::string(role) + "' is listed twice";
            return std::nullopt;
        }
    }
    if (rules.codes_.empty()) {
        error = "no rules: every master would be refused";
        return std::nullopt;
    }
    return rules;
}

std::optional<RoleRules> RoleRules::read(const std::string& path, std::string& error) {
    const auto text = readTextFile(path, kMaxRulesFileBytes, {"rules file", "a text file"}, error);
    if (!text) return std::nullopt;
    auto rules = parse(*text, error);
    if (!rules) error = path + ": " + error;
    return rules;
}

std::string describeRole(const char* role) { return role != nullptr ? "role " + std::string(role) : "no role"; }

}  // namespace sim

// Which function codes the master of each TLS role may use, from a rules
// file (mbslave-sim tls --roles FILE): one line per role,
//
//   # comment
//   monitor: 1 2 3 4        reads only
//   operator: *             everything
//   service: 1-6, 15, 16    ranges, blanks or commas between
//   -: 3                    the masters whose certificate carries no role
//
// A role the file does not list may do nothing.
#pragma once

#include <bitset>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace sim {

// The name that stands for masters without a role.
constexpr std::string_view kNoRoleName = "-";
// Function codes a rule can name; 128 and above are exception responses.
constexpr int kMaxFunctionCode = 127;
// Longest role a certificate can carry (the library's limit).
constexpr std::size_t kMaxRoleLength = 255;

using FunctionCodes = std::bitset<kMaxFunctionCode + 1>;

class RoleRules {
public:
    // Whether a master with the role (null: none) may use the function code.
    bool allows(const char* role, int functionCode) const;

    // Parses the file's text; on failure nothing, and error names the line
    // ("line 3: ...").
    static std::optional<RoleRules> parse(std::string_view text, std::string& error);
    // Reads and parses the file; error starts with the path.
    static std::optional<RoleRules> read(const std::string& path, std::string& error);

private:
    std::map<std::string, FunctionCodes, std::less<>> codes_;  // by role name, kNoRoleName for none
};

// "role monitor", "no role": how a log line names the role (null: none).
std::string describeRole(const char* role);

}  // namespace sim

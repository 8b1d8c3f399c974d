#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "role_rules.hpp"

namespace sim {
namespace {

// A rules file's text, and what each role may then do.
TEST(SimRoleRules, GoodFilesGrantExactlyTheListedCodes) {
    struct Grant {
        const char* role;  // null: a master without role
        int functionCode;
        bool allowed;
    };
    struct Case {
        const char* text;
        std::vector<Grant> grants;
    };
    const Case cases[] = {
        {"monitor: 1 2 3 4\noperator: *\n",
         {{"monitor", 3, true}, {"monitor", 4, true}, {"monitor", 6, false}, {"monitor", 16, false},
          {"operator", 16, true}, {"operator", 127, true}, {"guest", 3, false}, {nullptr, 3, false}}},
        {"# readers\r\n  monitor : 1-4, 43 # identification too\r\n\n-: 3\n",
         {{"monitor", 1, true}, {"monitor", 43, true}, {"monitor", 5, false}, {nullptr, 3, true},
          {nullptr, 4, false}, {"-", 3, true}}},
        {"service: 0x10,0x3", {{"service", 16, true}, {"service", 3, true}, {"service", 4, false}}},
        {"a b: 5", {{"a b", 5, true}, {"a", 5, false}}},
        {"operator: *", {{"operator", 0, false}, {"operator", 128, false}, {"operator", -1, false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        const auto rules = RoleRules::parse(c.text, error);
        ASSERT_TRUE(rules) << error;
        for (const Grant& grant : c.grants) {
            EXPECT_EQ(rules->allows(grant.role, grant.functionCode), grant.allowed)
                << (grant.role != nullptr ? grant.role : "(none)") << " " << grant.functionCode;
        }
    }
}

TEST(SimRoleRules, BadLinesAreRefusedWithTheirLineAndReason) {
    struct Case {
        std::string text;
        const char* error;
    };
    const Case cases[] = {
        {"monitor 1 2 3", "line 1: 'monitor 1 2 3' is not 'role: function codes'"},
        {"# only a comment\n: 3", "line 2: no role before ':' (masters without a role: -)"},
        {"monitor:", "line 1: monitor: no function codes (give * or a list like 1 2 3 4)"},
        {"monitor: # reads", "line 1: monitor: no function codes (give * or a list like 1 2 3 4)"},
        {"monitor: 1 2 x", "line 1: monitor: 'x' is not a function code 1..127 or a range like 1-4"},
        {"monitor: 0", "line 1: monitor: '0' is not a function code 1..127 or a range like 1-4"},
        {"monitor: 128", "line 1: monitor: '128' is not a function code 1..127 or a range like 1-4"},
        {"monitor: 4-1", "line 1: monitor: '4-1' is not a function code 1..127 or a range like 1-4"},
        {"monitor: -3", "line 1: monitor: '-3' is not a function code 1..127 or a range like 1-4"},
        {"operator: * 3", "line 1: operator: '*' stands alone: it is every function code"},
        {"monitor: 1\n\nmonitor: 2", "line 3: role 'monitor' is listed twice"},
        {std::string(256, 'r') + ": 1", "line 1: a role has at most 255 bytes"},
        {"", "no rules: every master would be refused"},
        {"# nothing\n\n", "no rules: every master would be refused"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        EXPECT_FALSE(RoleRules::parse(c.text, error));
        EXPECT_EQ(error, c.error);
    }
    std::string error;
    EXPECT_FALSE(RoleRules::read("/nonexistent/roles.txt", error));
    EXPECT_EQ(error, "/nonexistent/roles.txt: cannot open the rules file");
    EXPECT_FALSE(RoleRules::read("/", error));
    EXPECT_EQ(error, "/: not a regular file (a rules file is a text file)");
}

}  // namespace
}  // namespace sim

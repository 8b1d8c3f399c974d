#include <gtest/gtest.h>

#include "web_guard.hpp"

namespace sim {
namespace {

TEST(SimWebGuard, HostAndOriginNameThisServer) {
    struct Case {
        const char* webHost;
        std::uint16_t port;
        const char* host;
        bool allowed;
    };
    const Case cases[] = {
        {"127.0.0.1", 8080, "127.0.0.1:8080", true},
        {"127.0.0.1", 8080, "localhost:8080", true},
        {"127.0.0.1", 8080, "LocalHost:8080", true},
        {"127.0.0.1", 8080, "[::1]:8080", true},
        {"127.0.0.1", 8080, "127.0.0.1:8081", false},
        {"127.0.0.1", 8080, "127.0.0.1", false},
        {"127.0.0.1", 8080, "127.0.0.1:", false},
        {"127.0.0.1", 8080, "rebind.evil.example:8080", false},
        {"127.0.0.1", 8080, "localhost.evil.example:8080", false},
        {"127.0.0.1", 8080, "127.0.0.2:8080", false},
        {"127.0.0.1", 8080, "", false},
        {"127.0.0.1", 8080, "[::1", false},
        {"127.0.0.1", 80, "localhost", true},
        {"bench.lan", 8080, "bench.lan:8080", true},
        {"bench.lan", 8080, "other.lan:8080", false},
        {"0.0.0.0", 8080, "192.168.7.20:8080", true},
        {"0.0.0.0", 8080, "[fe80::1]:8080", true},
        {"0.0.0.0", 8080, "192.168.7.256:8080", false},
        {"0.0.0.0", 8080, "bench.lan:8080", false},
        {"0.0.0.0", 8080, "1.2.3.4.evil.example:8080", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.webHost) + " " + c.host);
        const WebGuard guard(c.webHost, c.port);
        EXPECT_EQ(guard.hostAllowed(c.host), c.allowed);
        EXPECT_EQ(guard.originAllowed(std::string("http://") + c.host, c.host), c.allowed);
    }
    // The Origin is the request's own Host, not just any host of this server.
    struct OriginCase {
        const char* webHost;
        const char* origin;
        const char* host;
    };
    const OriginCase refused[] = {
        {"127.0.0.1", "null", "127.0.0.1:8080"},
        {"127.0.0.1", "https://127.0.0.1:8080", "127.0.0.1:8080"},
        {"127.0.0.1", "http://127.0.0.2:8080", "127.0.0.1:8080"},
        {"127.0.0.1", "http://127.0.0.1:8080/", "127.0.0.1:8080"},
        {"127.0.0.1", "http://localhost:8080", "127.0.0.1:8080"},
        {"0.0.0.0", "http://10.0.0.9:8080", "192.168.7.20:8080"},
        {"127.0.0.1", "http://rebind.evil.example:8080", "rebind.evil.example:8080"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(std::string(c.origin) + " to " + c.host);
        EXPECT_FALSE(WebGuard(c.webHost, 8080).originAllowed(c.origin, c.host));
    }
    EXPECT_TRUE(WebGuard("127.0.0.1", 8080).originAllowed("HTTP://LocalHost:8080", "localhost:8080"));
}

}  // namespace
}  // namespace sim

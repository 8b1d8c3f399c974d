// Which HTTP requests the web page answers. A browser sends every site's
// requests to 127.0.0.1 too, so a request counts as the page's own only if
// its Host header names this server (a name another site controls could be
// rebound to 127.0.0.1) and, for edits, its Origin (when sent) is the page
// itself. Nothing here knows the HTTP library.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sim {

class WebGuard {
public:
    // host and port as given to --web.
    WebGuard(std::string host, std::uint16_t port);

    // Host header values the page is served under: 127.0.0.1:P, localhost:P,
    // [::1]:P and the --web host with the port (without ":P" when P is 80);
    // on a wildcard address (0.0.0.0, ::) any IP address with the port, which
    // no other site can rebind.
    bool hostAllowed(std::string_view host) const;
    // An Origin header of the page itself: "http://" and the request's own
    // Host, which is allowed (on 0.0.0.0 a page of another machine with the
    // same port is another origin).
    bool originAllowed(std::string_view origin, std::string_view host) const;

private:
    bool nameAllowed(std::string_view name) const;

    std::string host_;  // lower case, IPv6 without brackets
    std::string port_;
    bool wildcard_;
};

}  // namespace sim

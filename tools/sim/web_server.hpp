// The web page's HTTP server: serves the embedded page and the WebApi on a
// thread of its own until it is destroyed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "web_api.hpp"

namespace sim {

class WebServer {
public:
    virtual ~WebServer() = default;  // stops the server and joins its thread
};

// Binds host:port and starts serving; null and an error text if the port
// cannot be bound (or this build has no web page).
std::unique_ptr<WebServer> startWebServer(WebApi& api, const std::string& host, std::uint16_t port,
                                          std::string& error);

}  // namespace sim

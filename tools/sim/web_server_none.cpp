// startWebServer for builds without the HTTP library.
#include "web_server.hpp"

namespace sim {

std::unique_ptr<WebServer> startWebServer(WebApi&, const std::string&, std::uint16_t, std::string& error) {
    error = "--web: this build of mbslave-sim has no web page (it was built without cpp-httplib)";
    return nullptr;
}

}  // namespace sim

#include "web_guard.hpp"

#include <algorithm>
#include <cctype>

#include "number_text.hpp"

namespace sim {

namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

bool allOf(std::string_view text, int (*kind)(int)) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [kind](unsigned char c) { return kind(c) != 0; });
}

bool isDecimal(std::string_view text) { return allOf(text, [](int c) { return std::isdigit(c); }); }

// Four dotted decimal numbers of 0..255.
bool isIpv4(std::string_view text) {
    for (int part = 0; part < 4; ++part) {
        const auto dot = text.find('.');
        const std::string_view number = text.substr(0, dot);
        if ((dot == std::string_view::npos) != (part == 3) || !isDecimal(number) || number.size() > 3 ||
            !parseNumberIn(number, 0, 255)) {
            return false;
        }
        text.remove_prefix(dot == std::string_view::npos ? text.size() : dot + 1);
    }
    return true;
}

bool isIpv6(std::string_view text) {
    return text.find(':') != std::string_view::npos &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c) || c == ':' || c == '.'; });
}

}  // namespace

WebGuard::WebGuard(std::string host, std::uint16_t port)
    : host_(lower(host)), port_(std::to_string(port)), wildcard_(host_.empty() || host_ == "0.0.0.0" || host_ == "::") {
    if (host_.size() > 2 && host_.front() == '[' && host_.back() == ']') host_ = host_.substr(1, host_.size() - 2);
}

bool WebGuard::nameAllowed(std::string_view name) const {
    const std::string text = lower(name);
    if (text == "127.0.0.1" || text == "localhost" || text == "::1" || text == host_) return true;
    return wildcard_ && (isIpv4(text) || isIpv6(text));
}

bool WebGuard::hostAllowed(std::string_view host) const {
    std::string_view name = host;
    std::string_view port;
    if (!host.empty() && host.front() == '[') {
        const auto close = host.find(']');
        if (close == std::string_view::npos) return false;
        name = host.substr(1, close - 1);
        const std::string_view rest = host.substr(close + 1);
        if (!rest.empty() && (rest.front() != ':' || rest.size() == 1)) return false;
        if (!rest.empty()) port = rest.substr(1);
        if (!isIpv6(name)) return false;
    } else {
        const auto colon = host.find(':');
        if (colon != std::string_view::npos) {
            name = host.substr(0, colon);
            port = host.substr(colon + 1);
            if (port.empty()) return false;
        }
    }
    const bool portMatches = port.empty() ? port_ == "80" : port == port_;
    return portMatches && !name.empty() && nameAllowed(name);
}

bool WebGuard::originAllowed(std::string_view origin, std::string_view host) const {
    return lower(origin) == "http://" + lower(host) && hostAllowed(host);
}

}  // namespace sim

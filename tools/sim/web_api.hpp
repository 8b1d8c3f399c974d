// What the web page asks and what it is sent: the values of one unit over an
// address range, edits of single values, and the updates pushed while the
// page is open (values, counters and new request log records). Everything
// is read and changed under the bridge's lock; nothing here knows HTTP.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "callback_bridge.hpp"

namespace sim {

struct WebReply {
    int status = 200;
    std::string body;  // JSON; {"error": "..."} unless the status is 200
};

// What one open page looks at (a unit and an address range) and what it was
// sent last, so that updates carry only what changed.
struct WebView {
    int unit = 0;
    int start = 0;
    int count = 0;
    std::uint64_t logSeen = 0;  // newest request log record sent
    std::string lastValues;
    std::string lastCounters;
};

class WebApi {
public:
    // Most addresses one view shows.
    static constexpr int kMaxViewCount = 250;
    // Most request log records one update carries: the newest. A page cannot
    // show more in a quarter of a second; the counters count every request.
    static constexpr std::uint64_t kMaxLogRecordsPerUpdate = 100;

    // title names the server ("Modbus/TCP server on 127.0.0.1:5020");
    // connections: the transport has connections to count.
    WebApi(BridgeContext& context, std::string title, bool connections);

    // The served units and the title.
    WebReply info() const;
    // Checks the view's unit and range (start and count as the page sends
    // them) and fills in view; 400/404 with a message if they are bad.
    WebReply openView(std::string_view unit, std::string_view start, std::string_view count, WebView& view) const;
    // The view's values now: coils, discrete inputs, holding and input
    // registers (the registers with one more value, the second half of the
    // last row's 32-bit pair, where it exists).
    WebReply values(const WebView& view) const;
    // Sets one value: table "coils", "discrete" (0 or 1), "holding" or
    // "input" (0..65535 or -32768..-1, decimal or 0x hexadecimal); with next,
    // a register and the one after it (a 32-bit value or float) at once.
    WebReply edit(std::string_view unit, std::string_view table, std::string_view address, std::string_view value,
                  std::optional<std::string_view> next = std::nullopt);
    // The same with the values taken from a JSON body {"value": V} or
    // {"value": V, "next": W}, each a text as above, a whole number or
    // true/false; 400 for any other body.
    WebReply editFromBody(std::string_view unit, std::string_view table, std::string_view address,
                          std::string_view body);
    // Every served unit's values now as a map file that --map reads back.
    WebReply mapFile() const;
    // Server-sent events with what changed since the last call; empty if
    // nothing did.
    std::string update(WebView& view) const;

private:
    std::string valuesJson(const WebView& view) const;

    BridgeContext& context_;
    std::string title_;
    bool connections_;
};

}  // namespace sim

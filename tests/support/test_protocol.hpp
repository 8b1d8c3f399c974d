// A protocol object without a transport: start, stop and a pass that serves
// the frames the test queued.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/slave_protocol.hpp"

namespace mbslave::test {

class TestProtocol : public SlaveProtocol {
public:
    explicit TestProtocol(int protocolType = MB_PROTOCOL_TCP) noexcept {
        requestInfo.protocolType = protocolType;
    }

    void shutdownServer() override {
        markStarted(false);
        clearActivity();
    }

    void start() { markStarted(true); }
    void queue(std::vector<std::uint8_t> request) { pending.push_back(std::move(request)); }

    using SlaveProtocol::addressTimers;
    using SlaveProtocol::dataTables;
    using SlaveProtocol::requestInfo;

protected:
    // Serves the next queued frame the way every transport does: through
    // serveRequest, the reply taken from the frame, then finishRequest.
    int servePass() override {
        ++passes;
        if (pending.empty()) return MB_OK;
        std::vector<std::uint8_t> request = pending.front();
        pending.erase(pending.begin());
        ++totalCounter;
        std::memcpy(frame.data(), request.data(), request.size());
        const int length = serveRequest(frame.data(), static_cast<int>(request.size()), RequestOrigin{});
        if (length == kNotForThisServer) return MB_OK;
        replies.emplace_back(frame.begin(), frame.begin() + length);
        finishRequest();
        return MB_OK;
    }

public:
    int passes = 0;
    std::vector<std::vector<std::uint8_t>> pending;
    std::vector<std::vector<std::uint8_t>> replies;
    std::array<std::uint8_t, 260> frame{};
};

}  // namespace mbslave::test

// A protocol object without a transport: start, stop and a server loop that
// runs the common preamble and then serves frames that the test queued.
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

    int serverLoop() override {
        const int result = serverLoopPreamble();
        if (result != MB_OK) return result;
        ++passes;
        if (pending.empty()) return MB_OK;
        std::vector<std::uint8_t> request = pending.front();
        pending.erase(pending.begin());
        ++totalCounter;
        const std::uint8_t address = request[0];
        if (dataTable(address) == nullptr) return MB_OK;
        std::memcpy(frame.data(), request.data(), request.size());
        requestInfo.slaveAddress = address;
        const int length = processRequest(frame.data(), static_cast<int>(request.size()));
        replies.emplace_back(frame.begin(), frame.begin() + length);
        recordServedRequest(address);
        return MB_OK;
    }
    void shutdownServer() override {
        started = false;
        clearActivity();
    }
    bool isStarted() const override { return started; }
    // The server loop takes each reply from the frame.
    bool deliverReply(int, int) override { return true; }

    void start() { started = true; }
    void queue(std::vector<std::uint8_t> request) { pending.push_back(std::move(request)); }

    using SlaveProtocol::addressTimers;
    using SlaveProtocol::dataTables;
    using SlaveProtocol::requestInfo;

    bool started = false;
    int passes = 0;
    std::vector<std::vector<std::uint8_t>> pending;
    std::vector<std::vector<std::uint8_t>> replies;
    std::array<std::uint8_t, 260> frame{};
};

}  // namespace mbslave::test

// Drives processRequest directly: a protocol object with a recording table
// for slave address 1, a frame buffer filled with a marker beyond the
// request, and checks shared by every function code.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "support/frames.hpp"
#include "support/modbus_requests.hpp"
#include "support/recording_table.hpp"
#include "support/test_protocol.hpp"

namespace mbslave::test {

struct Reply {
    int length = 0;
    Bytes bytes;  // frame[0..length)
};

constexpr std::uint8_t kSlave = 1;   // the address with the recording table
constexpr std::uint8_t kStale = 0xA5;  // fills the buffer beyond the request

class RequestTest : public ::testing::Test {
protected:
    void SetUp() override { protocol.setDataTable(kSlave, &table); }

    // Runs one request (slave address first) and returns the reply.
    Reply run(const Bytes& request) {
        EXPECT_LE(request.size(), 255u) << "longer than any transport delivers";
        if (request.size() > 255) return Reply{};
        frame.fill(kStale);
        std::copy(request.begin(), request.end(), frame.begin());
        Reply reply;
        reply.length = protocol.processRequest(frame.data(), static_cast<int>(request.size()));
        reply.bytes.assign(frame.begin(), frame.begin() + std::max(reply.length, 0));
        return reply;
    }

    // The exception response {slave, fc | 0x80, code} and nothing called
    // outside a bracket.
    void expectException(const Bytes& request, std::uint8_t code) {
        const Reply reply = run(request);
        const std::uint8_t functionCode = request.size() >= 2 ? request[1] : 0;
        EXPECT_EQ(reply.length, 3);
        EXPECT_EQ(reply.bytes, (Bytes{request.empty() ? kSlave : request[0],
                                      static_cast<std::uint8_t>(functionCode | 0x80), code}));
        expectBalancedBrackets();
    }

    // Every data operation except the unbracketed queries ran inside exactly
    // one lock with the protocol's request context, and every lock was
    // released in order.
    void expectBalancedBrackets() const {
        int depth = 0;
        for (const Call& call : table.calls) {
            if (call.operation == "lock") {
                ++depth;
                EXPECT_EQ(depth, 1) << "nested lock";
            } else if (call.operation == "unlock") {
                --depth;
                EXPECT_EQ(depth, 0) << "unlock without lock";
            } else {
                const bool unbracketed = call.operation == "runIndicatorStatus" || call.operation == "deviceIdExists";
                EXPECT_EQ(call.lockDepth, unbracketed ? 0 : 1) << call.operation;
                EXPECT_EQ(call.info, &protocol.requestInfo) << call.operation;
            }
        }
        EXPECT_EQ(depth, 0);
        EXPECT_EQ(table.depth(), 0);
    }

    // The names of the data operations called, without lock and unlock.
    std::vector<std::string> operations() const {
        std::vector<std::string> names;
        for (const Call& call : table.calls) {
            if (call.operation != "lock" && call.operation != "unlock") names.push_back(call.operation);
        }
        return names;
    }

    TestProtocol protocol;
    RecordingTable table;
    std::array<std::uint8_t, 256> frame{};
};

}  // namespace mbslave::test

// Read Exception Status (7), Diagnostics (8) and Report Slave ID (17).
#include <cstdint>

#include "request_fixture.hpp"

namespace mbslave::test {
namespace {

using DiagnosticRequests = RequestTest;
using Sequence = std::vector<std::string>;

struct ExceptionCase {
    const char* name;
    Bytes request;
    std::uint8_t exception;
};

TEST_F(DiagnosticRequests, MalformedRequestsGetExceptions) {
    Bytes oversizedEcho(255, 0);  // 513 ASCII digits decode to 255 bytes
    oversizedEcho[0] = kSlave;
    oversizedEcho[1] = 8;
    const ExceptionCase cases[] = {
        {"FC7 3 bytes", {kSlave, 7, 0}, 3},
        {"FC8 without sub-function", {kSlave, 8}, 3},
        {"FC8 half a sub-function", {kSlave, 8, 0}, 3},
        {"FC8 sub-function 1", {kSlave, 8, 0, 1, 0, 0}, 1},
        {"FC8 sub-function 0x0100", {kSlave, 8, 1, 0}, 1},
        {"FC8 echo longer than any reply", oversizedEcho, 3},
        {"FC17 3 bytes", {kSlave, 17, 0}, 3},
    };
    for (const ExceptionCase& c : cases) {
        SCOPED_TRACE(c.name);
        table.calls.clear();
        expectException(c.request, c.exception);
        EXPECT_TRUE(table.calls.empty());
    }
}

TEST_F(DiagnosticRequests, ReadExceptionStatusSendsLowByte) {
    for (const auto& [status, sent] : {std::pair{0, 0x00}, std::pair{0x1A5, 0xA5}, std::pair{-1, 0xFF}}) {
        table.calls.clear();
        table.exceptionStatus = status;
        EXPECT_EQ(run({kSlave, 7}).bytes, (Bytes{kSlave, 7, static_cast<std::uint8_t>(sent)}));
        EXPECT_EQ(table.sequence(), (Sequence{"lock", "readExceptionStatus", "unlock"}));
        expectBalancedBrackets();
    }
}

TEST_F(DiagnosticRequests, ReturnQueryDataEchoesTheRequest) {
    Bytes longest(254, 0x3C);
    longest[0] = kSlave;
    longest[1] = 8;
    longest[2] = 0;
    longest[3] = 0;
    for (const Bytes& request : {Bytes{kSlave, 8, 0, 0}, Bytes{kSlave, 8, 0, 0, 0x12, 0x34}, longest}) {
        SCOPED_TRACE(request.size());
        const Reply reply = run(request);
        EXPECT_EQ(reply.bytes, request);
    }
    EXPECT_TRUE(table.calls.empty());
}

TEST_F(DiagnosticRequests, ReportSlaveIdAppendsRunIndicator) {
    table.slaveId = {'M', 'B', 'S', 0x01, 0x02};
    for (const auto& [run_, indicator] : {std::pair{7, 0xFF}, std::pair{0, 0x00}}) {
        table.calls.clear();
        table.runIndicator = run_;
        const Reply reply = run({kSlave, 17});
        EXPECT_EQ(reply.length, 9);
        EXPECT_EQ(reply.bytes, (Bytes{kSlave, 17, 6, 'M', 'B', 'S', 0x01, 0x02, static_cast<std::uint8_t>(indicator)}));
        // The run indicator is asked after the bracket.
        EXPECT_EQ(table.sequence(), (Sequence{"lock", "reportSlaveId", "unlock", "runIndicatorStatus"}));
        EXPECT_EQ(table.find("reportSlaveId")->args, std::vector<int>{250});
        expectBalancedBrackets();
    }
}

TEST_F(DiagnosticRequests, ReportSlaveIdLengthBeyondWrittenBytesSendsZeros) {
    // The callback writes one byte but claims five: the other four must not
    // carry what an earlier frame left in the buffer.
    table.slaveId = {'M'};
    table.slaveIdResult = 5;
    table.runIndicator = 0;
    const Reply reply = run({kSlave, 17});
    EXPECT_EQ(reply.bytes, (Bytes{kSlave, 17, 6, 'M', 0, 0, 0, 0, 0x00}));
}

TEST_F(DiagnosticRequests, ReportSlaveIdLengthLimits) {
    table.slaveId.assign(249, 0x77);
    const Reply longest = run({kSlave, 17});
    EXPECT_EQ(longest.length, 253);
    EXPECT_EQ(longest.bytes[2], 250);

    // 250 is the buffer's capacity, which leaves no room for the run
    // indicator; 251 and INT32_MAX claim more than the buffer holds.
    for (int result : {0, 250, 251, INT32_MAX, -1000}) {
        SCOPED_TRACE(result);
        table.slaveId.clear();
        table.slaveIdResult = result;
        table.calls.clear();
        expectException({kSlave, 17}, 4);
        EXPECT_EQ(table.find("runIndicatorStatus"), nullptr);
    }
}

}  // namespace
}  // namespace mbslave::test

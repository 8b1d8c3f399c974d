// Requests modelled on flaws found in other Modbus servers: quantities just
// outside their range, byte counts that disagree with the quantity or with
// the bytes present, truncated requests, trailing bytes, replies that would
// outgrow the frame. Each gets exactly its exception response, touches no
// data it must not touch, and the next valid request is answered correctly.
// Every case runs through every transport.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "attack_target.hpp"

namespace mbslave::test {
namespace {

constexpr std::uint8_t kUnit = 1;

struct HostileCase {
    std::string name;
    Bytes request;
    Bytes reply;
    long reads = 0;   // data operations that may read
    long writes = 0;  // ... and write
    bool refuseWrites = false;
};

Bytes withData(Bytes head, std::size_t count, std::uint8_t fill = 0xA5) {
    head.insert(head.end(), count, fill);
    return head;
}

std::vector<HostileCase> quantityCases() {
    std::vector<HostileCase> cases;
    const struct {
        std::uint8_t functionCode;
        int maximum;
    } reads[] = {{1, 2000}, {2, 2000}, {3, 125}, {4, 125}};
    for (const auto& read : reads) {
        for (const int quantity : {0, read.maximum + 1, 0x8000, 0xFFFF}) {
            cases.push_back({"fc" + std::to_string(read.functionCode) + " quantity " + std::to_string(quantity),
                             readRequest(kUnit, read.functionCode, 0, quantity),
                             exceptionReply(kUnit, read.functionCode, 2)});
        }
    }
    return cases;
}

std::vector<HostileCase> byteCountCases() {
    return {
        // 1968 coils need 246 bytes; the request claims 6 and carries 6.
        {"fc15 quantity 1968 byte count 6", withData({kUnit, 15, 0, 0, 0x07, 0xB0, 6}, 6),
         exceptionReply(kUnit, 15, 2)},
        // 123 registers need 246 bytes; the request claims 6 and carries 6.
        {"fc16 quantity 123 byte count 6", withData({kUnit, 16, 0, 0, 0, 123, 6}, 6), exceptionReply(kUnit, 16, 3)},
        {"fc15 byte count 2 with 1 byte", withData({kUnit, 15, 0, 0, 0, 16, 2}, 1), exceptionReply(kUnit, 15, 3)},
        {"fc15 byte count 246 with 6 bytes", withData({kUnit, 15, 0, 0, 0x07, 0xB0, 246}, 6),
         exceptionReply(kUnit, 15, 3)},
        {"fc16 byte count 4 with 2 bytes", withData({kUnit, 16, 0, 0, 0, 2, 4}, 2), exceptionReply(kUnit, 16, 3)},
        {"fc16 byte count 250 without data", {kUnit, 16, 0, 0, 0, 125, 250}, exceptionReply(kUnit, 16, 3)},
        {"fc16 byte count 246 with 245 bytes", withData({kUnit, 16, 0, 0, 0, 123, 246}, 245),
         exceptionReply(kUnit, 16, 3)},
        {"fc23 write byte count 250 with 2 bytes", withData({kUnit, 23, 0, 0, 0, 1, 0, 0, 0, 125, 250}, 2),
         exceptionReply(kUnit, 23, 3)},
        {"fc20 byte count 14 with one sub-request", withData({kUnit, 20, 14}, 7), exceptionReply(kUnit, 20, 3)},
        {"fc21 byte count 251 with one sub-request", withData({kUnit, 21, 251}, 9), exceptionReply(kUnit, 21, 3)},
        {"fc23 valid read, refused write", {kUnit, 23, 0, 0, 0, 10, 0, 0x20, 0, 1, 2, 0x12, 0x34},
         exceptionReply(kUnit, 23, 2), 0, 1, true},
        {"fc5 trailing byte", {kUnit, 5, 0, 1, 0xFF, 0, 0}, exceptionReply(kUnit, 5, 3)},
        {"fc6 trailing byte", {kUnit, 6, 0, 1, 0x12, 0x34, 0}, exceptionReply(kUnit, 6, 3)},
        {"fc22 trailing byte", {kUnit, 22, 0, 1, 0, 0xF2, 0, 0x25, 0}, exceptionReply(kUnit, 22, 3)},
        {"fc5 trailing bytes", withData({kUnit, 5, 0, 1, 0xFF, 0}, 200), exceptionReply(kUnit, 5, 3)},
        // Two records of 100 registers: 202 + 202 bytes of sub-responses do
        // not fit the reply; the second read has been made when that shows.
        {"fc20 sub-responses beyond the reply",
         {kUnit, 20, 14, 6, 0, 1, 0, 0, 0, 100, 6, 0, 1, 0, 0, 0, 100}, exceptionReply(kUnit, 20, 4), 2},
        {"fc20 one record of 125 registers", {kUnit, 20, 7, 6, 0, 1, 0, 0, 0, 125}, exceptionReply(kUnit, 20, 4),
         1},
        {"fc21 record data beyond the byte count", withData({kUnit, 21, 9, 6, 0, 1, 0, 0, 0, 125}, 2),
         exceptionReply(kUnit, 21, 4)},
    };
}

// Every served function code cut off after 1 .. full length - 1 bytes.
std::vector<HostileCase> truncationCases() {
    std::vector<HostileCase> cases;
    for (const Bytes& full : validRequestPerFunctionCode(kUnit)) {
        const std::uint8_t functionCode = full[1];
        for (std::size_t length = 1; length < full.size(); ++length) {
            const Bytes request(full.begin(), full.begin() + static_cast<long>(length));
            Bytes reply;
            if (length == 1) {
                reply = exceptionReply(kUnit, 0, 1);  // no function code arrived
            } else if (functionCode == 8 && length >= 4) {
                reply = request;  // Return Query Data echoes whatever data it got
            } else {
                reply = exceptionReply(kUnit, functionCode, 3);
            }
            cases.push_back({"fc" + std::to_string(functionCode) + " cut to " + std::to_string(length), request,
                             reply});
        }
    }
    return cases;
}

class HostileRequests : public ::testing::TestWithParam<TargetKind> {
protected:
    void SetUp() override {
        target = GetParam().make();
        ASSERT_NE(target, nullptr);
    }

    // The valid request that follows every hostile one.
    void expectValidRequestAnswered(const std::string& after) {
        const Bytes request = readRequest(kUnit, 3, 0x0100, 12);
        EXPECT_EQ(target->exchange(request), readReply(kUnit, 3, 0x0100, 12)) << "after " << after;
    }

    // The case's reply, or nothing where the transport's framing drops it.
    std::optional<Bytes> expectedReply(const HostileCase& hostile) const {
        if (target->framingDrops(hostile.request)) return std::nullopt;
        return hostile.reply;
    }

    void run(const std::vector<HostileCase>& cases) {
        for (const HostileCase& hostile : cases) {
            const bool dropped = target->framingDrops(hostile.request);
            target->table.refuseWrites = hostile.refuseWrites;
            const long readsBefore = target->table.reads;
            const long writesBefore = target->table.writes;
            EXPECT_EQ(target->exchange(hostile.request), expectedReply(hostile)) << hostile.name;
            EXPECT_EQ(target->table.reads - readsBefore, dropped ? 0 : hostile.reads) << hostile.name;
            EXPECT_EQ(target->table.writes - writesBefore, dropped ? 0 : hostile.writes) << hostile.name;
            target->table.refuseWrites = false;
            expectValidRequestAnswered(hostile.name);
        }
        EXPECT_FALSE(target->table.bracketBroken);
    }

    std::unique_ptr<AttackTarget> target;
};

TEST_P(HostileRequests, QuantitiesJustOutsideTheirRangeGetIllegalDataAddress) { run(quantityCases()); }

TEST_P(HostileRequests, ByteCountsTrailingBytesAndOversizedRepliesGetTheirException) { run(byteCountCases()); }

TEST_P(HostileRequests, EveryFunctionCodeTruncatedAtEveryLengthIsRefused) { run(truncationCases()); }

TEST_P(HostileRequests, CountersCountEveryRequestAndEveryAnswer) {
    const std::vector<HostileCase> cases = byteCountCases();
    const std::uint32_t totalBefore = target->totalCounter();
    const std::uint32_t successBefore = target->successCounter();
    run(cases);
    // Dropped frames are received (and counted) but not served.
    std::uint32_t served = 0;
    for (const HostileCase& hostile : cases) served += target->framingDrops(hostile.request) ? 1 : 2;
    EXPECT_EQ(target->totalCounter() - totalBefore, 2 * cases.size());
    EXPECT_EQ(target->successCounter() - successBefore, served);
}

// A malformed request after traffic that filled the buffers is answered
// exactly as the first time: nothing of an earlier request carries over.
TEST_P(HostileRequests, SameMalformedRequestAfterValidTrafficGetsTheSameAnswer) {
    const Bytes fillers[] = {
        withData({kUnit, 16, 0, 0, 0, 123, 246}, 246, 0x7E),
        readRequest(kUnit, 3, 0, 125),
        {kUnit, 8, 0, 0, 0xC3, 0xC3, 0xC3, 0xC3},
    };
    const HostileCase malformed[] = {
        {"no function code", {kUnit}, exceptionReply(kUnit, 0, 1)},
        {"fc16 without byte count", {kUnit, 16, 0, 0, 0, 123}, exceptionReply(kUnit, 16, 3)},
        {"fc15 quantity 1968 byte count 6", withData({kUnit, 15, 0, 0, 0x07, 0xB0, 6}, 6),
         exceptionReply(kUnit, 15, 2)},
        {"fc8 cut to 3", {kUnit, 8, 0}, exceptionReply(kUnit, 8, 3)},
    };
    for (const HostileCase& hostile : malformed) {
        for (const Bytes& filler : fillers) {
            ASSERT_TRUE(target->exchange(filler).has_value()) << hostile.name;
            EXPECT_EQ(target->exchange(hostile.request), expectedReply(hostile)) << hostile.name;
        }
        expectValidRequestAnswered(hostile.name);
    }
}

INSTANTIATE_TEST_SUITE_P(Transports, HostileRequests, ::testing::ValuesIn(hostileTargetKinds()),
                         [](const ::testing::TestParamInfo<TargetKind>& info) { return info.param.name; });

}  // namespace
}  // namespace mbslave::test

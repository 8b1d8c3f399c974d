// Read File Record (20) and Write File Record (21).
#include "request_fixture.hpp"

namespace mbslave::test {
namespace {

using FileRecords = RequestTest;

struct SubRequest {
    std::uint8_t referenceType;
    int fileNumber;
    int recordNumber;
    int recordLength;
};

Bytes readRequest(const std::vector<SubRequest>& subRequests) {
    Bytes request = {kSlave, 20, static_cast<std::uint8_t>(7 * subRequests.size())};
    for (const SubRequest& s : subRequests) {
        request.insert(request.end(), {s.referenceType, highByte(s.fileNumber), lowByte(s.fileNumber), highByte(s.recordNumber),
                                       lowByte(s.recordNumber), highByte(s.recordLength), lowByte(s.recordLength)});
    }
    return request;
}

// Sub-requests each followed by record-length registers 0x2000 + i, then
// extraBytes zero bytes; the byte count covers all of it.
Bytes writeRequest(const std::vector<SubRequest>& subRequests, int extraBytes = 0) {
    Bytes request = {kSlave, 21, 0};
    for (const SubRequest& s : subRequests) {
        request.insert(request.end(), {s.referenceType, highByte(s.fileNumber), lowByte(s.fileNumber), highByte(s.recordNumber),
                                       lowByte(s.recordNumber), highByte(s.recordLength), lowByte(s.recordLength)});
        for (int i = 0; i < std::max(s.recordLength, 0); ++i) {
            request.push_back(highByte(0x2000 + i));
            request.push_back(lowByte(0x2000 + i));
        }
    }
    request.insert(request.end(), static_cast<std::size_t>(extraBytes), 0);
    request[2] = static_cast<std::uint8_t>(request.size() - 3);
    return request;
}

std::vector<int> fileRecordCall(int type, int file, int record, int length) { return {type, file, record, length}; }

TEST_F(FileRecords, ReadMalformedRequestsGetExceptions) {
    Bytes byteCountEight = readRequest({{6, 1, 0, 1}});
    byteCountEight[2] = 8;
    byteCountEight.push_back(0);
    Bytes lengthMismatch = readRequest({{6, 1, 0, 1}});
    lengthMismatch.push_back(0);
    const struct {
        const char* name;
        Bytes request;
        std::uint8_t exception;
        int reads;
    } cases[] = {
        {"no byte count", {kSlave, 20}, 3, 0},
        {"byte count 0", {kSlave, 20, 0}, 3, 0},
        {"byte count 8", byteCountEight, 3, 0},
        {"length not byte count + 3", lengthMismatch, 3, 0},
        {"byte count 252", readRequest(std::vector<SubRequest>(36, {6, 1, 0, 1})), 3, 0},
        {"record length 0", readRequest({{6, 1, 0, 0}}), 4, 0},
        {"second record length 126", readRequest({{6, 1, 0, 2}, {6, 1, 0, 126}}), 4, 1},
        {"second record length negative", readRequest({{6, 1, 0, 2}, {6, 1, 0, 0x8000}}), 4, 1},
        // 2 + 2 x 125 bytes exceed the reply; the read has already been made.
        {"one record too long for the reply", readRequest({{6, 1, 0, 125}}), 4, 1},
        {"second record too long for the reply", readRequest({{6, 1, 0, 100}, {6, 2, 0, 25}}), 4, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        table.calls.clear();
        expectException(c.request, c.exception);
        EXPECT_EQ(static_cast<int>(operations().size()), c.reads);
    }
}

TEST_F(FileRecords, ReadTwoSubRequests) {
    const Reply reply = run(readRequest({{6, 4, 1, 2}, {6, 3, 9, 2}}));
    // The table's record register i holds file * 1000 + record + i.
    EXPECT_EQ(reply.length, 15);
    EXPECT_EQ(reply.bytes, (Bytes{kSlave, 20, 12,
                                  5, 6, highByte(4001), lowByte(4001), highByte(4002), lowByte(4002),
                                  5, 6, highByte(3009), lowByte(3009), highByte(3010), lowByte(3010)}));
    ASSERT_EQ(operations().size(), 2u);
    EXPECT_EQ(table.calls.at(1).args, fileRecordCall(6, 4, 1, 2));
    EXPECT_EQ(table.calls.at(4).args, fileRecordCall(6, 3, 9, 2));
    expectBalancedBrackets();
}

TEST_F(FileRecords, ReadPassesFieldsWidened) {
    const Reply reply = run(readRequest({{0xFF, 0xFFFF, 0x8000, 1}}));
    EXPECT_EQ(reply.length, 7);
    EXPECT_EQ(reply.bytes[4], 0xFF);  // the reference type as received
    EXPECT_EQ(table.find("readFileRecord")->args, fileRecordCall(-1, 65535, 32768, 1));
}

TEST_F(FileRecords, ReadLargestReply) {
    // Sub-responses of 2 + 122 and 2 + 124 bytes: 250 of the 251 allowed.
    const Reply reply = run(readRequest({{6, 1, 0, 61}, {6, 2, 0, 62}}));
    EXPECT_EQ(reply.length, 253);
    EXPECT_EQ(reply.bytes[2], 250);
    EXPECT_EQ(reply.bytes[3 + 124], 125);  // length byte of the second sub-response
}

TEST_F(FileRecords, ReadRefusalStopsAtOnce) {
    table.refused = {"readFileRecord"};
    expectException(readRequest({{6, 1, 0, 1}, {6, 2, 0, 1}}), 2);
    EXPECT_EQ(operations().size(), 1u);
}

TEST_F(FileRecords, WriteMalformedRequestsGetExceptions) {
    Bytes lengthMismatch = writeRequest({{6, 1, 0, 1}});
    lengthMismatch.push_back(0);
    Bytes dataPastByteCount = writeRequest({{6, 1, 0, 3}});
    dataPastByteCount[8] = 0;
    dataPastByteCount[9] = 4;  // announces 4 registers, carries 3
    Bytes secondLength126 = writeRequest({{6, 1, 0, 1}, {6, 2, 0, 1}});
    secondLength126[3 + 9 + 5] = 0;
    secondLength126[3 + 9 + 6] = 126;
    Bytes byteCount252(255, 0);
    byteCount252[0] = kSlave;
    byteCount252[1] = 21;
    byteCount252[2] = 252;
    const struct {
        const char* name;
        Bytes request;
        std::uint8_t exception;
        int writes;
    } cases[] = {
        {"no byte count", {kSlave, 21}, 3, 0},
        {"byte count 8", {kSlave, 21, 8, 6, 0, 1, 0, 0, 0, 0, 0}, 3, 0},
        {"length not byte count + 3", lengthMismatch, 3, 0},
        {"byte count 252", byteCount252, 3, 0},
        {"record length 0", writeRequest({{6, 1, 0, 0}}, 2), 4, 0},
        {"record data past the byte count", dataPastByteCount, 4, 0},
        // Written records stay written when a later sub-request is malformed.
        {"one byte left over", writeRequest({{6, 1, 0, 1}, {6, 2, 0, 2}}, 1), 4, 2},
        {"second record length 126", secondLength126, 4, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        table.calls.clear();
        expectException(c.request, c.exception);
        EXPECT_EQ(static_cast<int>(operations().size()), c.writes);
    }
}

TEST_F(FileRecords, WriteEchoesAfterEverySubRequest) {
    const Bytes request = writeRequest({{6, 4, 7, 3}, {0x86, 5, 8, 1}});
    const Reply reply = run(request);
    EXPECT_EQ(reply.bytes, request);
    ASSERT_EQ(operations().size(), 2u);
    EXPECT_EQ(table.calls.at(1).args, fileRecordCall(6, 4, 7, 3));
    EXPECT_EQ(table.calls.at(1).values, (std::vector<int>{0x2000, 0x2001, 0x2002}));
    EXPECT_EQ(table.calls.at(4).args, fileRecordCall(-122, 5, 8, 1));
    EXPECT_EQ(table.calls.at(4).values, std::vector<int>{0x2000});
    expectBalancedBrackets();
}

TEST_F(FileRecords, WriteRefusalStopsButKeepsEarlierRecords) {
    table.refused = {"writeFileRecord"};
    expectException(writeRequest({{6, 1, 0, 1}, {6, 2, 0, 1}}), 2);
    EXPECT_EQ(operations().size(), 1u);
}

}  // namespace
}  // namespace mbslave::test

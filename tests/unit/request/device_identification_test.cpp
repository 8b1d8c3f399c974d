// Encapsulated Interface Transport (43) with Read Device Identification.
#include <cstdint>

#include "request_fixture.hpp"

namespace mbslave::test {
namespace {

using DeviceIdentification = RequestTest;

Bytes value(int size, std::uint8_t fill) { return Bytes(static_cast<std::size_t>(size), fill); }

Bytes readDeviceId(std::uint8_t code, std::uint8_t objectId) {
    return {kSlave, 43, 14, code, objectId};
}

// The objects listed in a reply: id and value length of each.
std::vector<std::pair<int, int>> listed(const Reply& reply) {
    std::vector<std::pair<int, int>> objects;
    for (std::size_t at = 8; at + 1 < reply.bytes.size(); at += 2 + reply.bytes[at + 1]) {
        objects.emplace_back(reply.bytes[at], reply.bytes[at + 1]);
    }
    return objects;
}

TEST_F(DeviceIdentification, MalformedRequestsGetExceptions) {
    table.addDeviceIdObject(0, value(3, 'a'));
    const struct {
        const char* name;
        Bytes request;
        std::uint8_t exception;
    } cases[] = {
        {"no MEI type", {kSlave, 43}, 3},
        {"MEI type 13", {kSlave, 43, 13, 1, 0}, 1},
        {"MEI type 13, short", {kSlave, 43, 13}, 1},
        {"4 bytes", {kSlave, 43, 14, 1}, 3},
        {"6 bytes", {kSlave, 43, 14, 1, 0, 0}, 3},
        {"read device ID code 0", readDeviceId(0, 0), 3},
        {"read device ID code 5", readDeviceId(5, 0), 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        table.calls.clear();
        expectException(c.request, c.exception);
        EXPECT_TRUE(table.calls.empty());
    }
}

TEST_F(DeviceIdentification, BasicListing) {
    table.addDeviceIdObject(0, {'A', 'C', 'M'});
    table.addDeviceIdObject(1, {'P', '-', '4', '2'});
    table.addDeviceIdObject(2, {'2', '.', '1', '1', '0'});
    const Reply reply = run(readDeviceId(1, 0));
    EXPECT_EQ(reply.length, 26);
    EXPECT_EQ(reply.bytes, (Bytes{kSlave, 43, 14, 1, 0x81, 0x00, 0x00, 3,
                                  0, 3, 'A', 'C', 'M',
                                  1, 4, 'P', '-', '4', '2',
                                  2, 5, '2', '.', '1', '1', '0'}));
    expectBalancedBrackets();
}

TEST_F(DeviceIdentification, ConformityScanAsksEveryIdWithoutBufferOrBracket) {
    table.addDeviceIdObject(0, value(1, 'x'));
    run(readDeviceId(4, 0));
    std::vector<int> asked;
    for (const Call& call : table.calls) {
        if (call.operation != "deviceIdExists") continue;
        EXPECT_EQ(call.args.at(1), 0);  // capacity 0 with the null buffer
        asked.push_back(call.args.at(0));
    }
    ASSERT_EQ(asked.size(), 256u);
    for (int id = 0; id < 256; ++id) EXPECT_EQ(asked[static_cast<std::size_t>(id)], id);
    // The fetch uses a 245-byte buffer inside a bracket.
    EXPECT_EQ(table.find("readDeviceIdObject")->args, (std::vector<int>{0, 245}));
    expectBalancedBrackets();
}

TEST_F(DeviceIdentification, ConformityLevelFollowsTheObjectsPresent) {
    const struct {
        const char* name;
        std::vector<int> ids;
        std::uint8_t level;
        std::size_t scanned;  // existence queries made
    } cases[] = {
        {"basic only", {0, 1, 2}, 0x81, 256},
        {"a regular object", {0, 1, 2, 5}, 0x82, 256},
        {"an extended object ends the scan", {0, 1, 2, 128, 200}, 0x83, 129},
        {"extended without regular", {0, 255}, 0x83, 256},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingTable fresh;
        protocol.setDataTable(kSlave, &fresh);
        for (int id : c.ids) fresh.addDeviceIdObject(id, value(2, 'v'));
        const Reply reply = run(readDeviceId(4, 0));
        EXPECT_EQ(reply.bytes.at(4), c.level);
        std::size_t scanned = 0;
        for (const Call& call : fresh.calls) scanned += call.operation == "deviceIdExists" ? 1 : 0;
        EXPECT_EQ(scanned, c.scanned);
    }
    protocol.setDataTable(kSlave, &table);
}

TEST_F(DeviceIdentification, GapsSkipToExtendedOrEndTheListing) {
    for (int id : {0, 1, 2, 128, 129, 131}) table.addDeviceIdObject(id, value(1 + id % 4, static_cast<std::uint8_t>(id)));
    const Reply reply = run(readDeviceId(3, 0));
    // Ids 3..127 are skipped after the gap at 3; the gap at 130 ends the list.
    EXPECT_EQ(listed(reply), (std::vector<std::pair<int, int>>{{0, 1}, {1, 2}, {2, 3}, {128, 1}, {129, 2}}));
    EXPECT_EQ(reply.bytes[4], 0x83);
    EXPECT_EQ(reply.bytes[7], 5);
    EXPECT_EQ(reply.length, 8 + 5 * 2 + 1 + 2 + 3 + 1 + 2);

    // A gap below 127 skips to 128; a gap from 127 on ends the listing.
    EXPECT_EQ(listed(run(readDeviceId(3, 100))), (std::vector<std::pair<int, int>>{{128, 1}, {129, 2}}));
    expectException(readDeviceId(3, 127), 2);
}

TEST_F(DeviceIdentification, StreamsStartAtTheRequestedObject) {
    for (int id = 0; id < 10; ++id) table.addDeviceIdObject(id, value(1, 'v'));
    const struct {
        std::uint8_t code;
        std::uint8_t first;
        std::vector<int> ids;
    } cases[] = {
        {1, 1, {1, 2}},
        {1, 5, {}},  // beyond the basic range: nothing listed
        {2, 7, {7, 8, 9}},
        {4, 9, {9}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int{c.first});
        const Reply reply = run(readDeviceId(c.code, c.first));
        if (c.ids.empty()) {
            EXPECT_EQ(reply.bytes, (Bytes{kSlave, 43 | 0x80, 2}));
            continue;
        }
        std::vector<int> ids;
        for (const auto& object : listed(reply)) ids.push_back(object.first);
        EXPECT_EQ(ids, c.ids);
    }
}

TEST_F(DeviceIdentification, ObjectThatDoesNotFitIsAnnouncedNotTruncated) {
    for (int id : {0, 1, 2, 3}) table.addDeviceIdObject(id, value(100, static_cast<std::uint8_t>(id)));
    const Reply reply = run(readDeviceId(2, 0));
    // 8 + 2 x 102 = 212; a third object would need 102 more.
    EXPECT_EQ(reply.length, 212);
    EXPECT_EQ(reply.bytes[5], 0xFF);
    EXPECT_EQ(reply.bytes[6], 2);
    EXPECT_EQ(reply.bytes[7], 2);

    // The master continues from object 2.
    const Reply next = run(readDeviceId(2, 2));
    EXPECT_EQ(listed(next), (std::vector<std::pair<int, int>>{{2, 100}, {3, 100}}));
    EXPECT_EQ(next.bytes[5], 0x00);
    EXPECT_EQ(next.bytes[6], 0);
}

TEST_F(DeviceIdentification, IndividualAccess) {
    table.addDeviceIdObject(7, value(243, 'L'));
    table.addDeviceIdObject(8, value(244, 'L'));
    table.addDeviceIdObject(9, value(245, 'L'));                // the buffer's capacity
    table.addDeviceIdObject(10, Bytes(1000, 'L'));              // claims more than the buffer holds
    table.addDeviceIdObject(11, value(3, 'L'), 246);            // capacity + 1
    table.addDeviceIdObject(12, value(3, 'L'), INT32_MAX);      // no sum may overflow
    table.addDeviceIdObject(13, value(3, 'L'), INT32_MAX - 9);  // 8 + 2 + this wraps to INT32_MIN
    const Reply fits = run(readDeviceId(4, 7));
    EXPECT_EQ(fits.length, 253);
    EXPECT_EQ(listed(fits), (std::vector<std::pair<int, int>>{{7, 243}}));

    for (std::uint8_t id : {8, 9, 10, 11, 12, 13, 14}) {  // too long, or no such object
        SCOPED_TRACE(int{id});
        expectException(readDeviceId(4, id), 2);
    }
}

TEST_F(DeviceIdentification, ObjectClaimingMoreThanTheBufferIsAnnouncedAsNotFitting) {
    for (const int claimed : {246, INT32_MAX - 11, INT32_MAX}) {
        SCOPED_TRACE(claimed);
        RecordingTable fresh;
        protocol.setDataTable(kSlave, &fresh);
        fresh.addDeviceIdObject(0, value(4, 'a'));
        fresh.addDeviceIdObject(1, value(2, 'b'), claimed);
        fresh.addDeviceIdObject(2, value(4, 'c'));
        const Reply reply = run(readDeviceId(1, 0));
        EXPECT_EQ(listed(reply), (std::vector<std::pair<int, int>>{{0, 4}}));
        EXPECT_EQ(reply.bytes[5], 0xFF);
        EXPECT_EQ(reply.bytes[6], 1);
        EXPECT_EQ(reply.length, 14);
    }
    protocol.setDataTable(kSlave, &table);
}

// Leaves a pattern on the stack below the caller, where the locals of the
// calls that follow will lie.
[[gnu::noinline]] void dirtyStack() {
    volatile std::uint8_t area[65536];
    for (volatile std::uint8_t& byte : area) byte = 0xA5;
}

TEST_F(DeviceIdentification, LengthBeyondWhatTheCallbackWroteSendsNoStackBytes) {
    table.addDeviceIdObject(0, value(2, 'v'), 40);
    dirtyStack();
    const Reply reply = run(readDeviceId(4, 0));
    ASSERT_EQ(reply.length, 8 + 2 + 40);
    EXPECT_EQ(Bytes(reply.bytes.begin() + 10, reply.bytes.begin() + 12), value(2, 'v'));
    EXPECT_EQ(Bytes(reply.bytes.begin() + 12, reply.bytes.end()), value(38, 0));
}

}  // namespace
}  // namespace mbslave::test

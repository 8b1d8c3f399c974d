#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "callback_bridge.hpp"
#include "web_api.hpp"

namespace sim {
namespace {

// A bridge attached to a model serving units 1 and 2 (demo device), whose
// log lines are collected without their time stamps.
class SimBridge : public testing::Test {
protected:
    void SetUp() override {
        UnitSet served;
        served.set(1);
        served.set(2);
        model = std::make_unique<DeviceModel>(served, "2.11.0.0", true);
        stream = open_memstream(&buffer, &size);
        log = std::make_unique<EventLog>(stream, false);
        context.model = model.get();
        context.trace = &trace;
        context.log = log.get();
        context.uptimeMs = [this] { return uptime; };
        context.timeOutMs = 1000;
        attachBridge(&context);
        tcp.protocolType = MB_PROTOCOL_TCP;
        tcp.peerName = "127.0.0.5";
    }
    void TearDown() override {
        attachBridge(nullptr);
        std::fclose(stream);
        std::free(buffer);
    }

    std::vector<std::string> lines() {
        std::fflush(stream);
        std::vector<std::string> result;
        std::string text(buffer, size);
        std::size_t start = 0;
        while (start < text.size()) {
            const auto end = text.find('\n', start);
            const std::string line = text.substr(start, end - start);
            result.push_back(line.size() > 13 ? line.substr(13) : line);  // "HH:MM:SS.mmm "
            start = end + 1;
        }
        return result;
    }

    RequestInfo infoFor(int unit, const RequestInfo& base) {
        RequestInfo info = base;
        info.slaveAddress = unit;
        return info;
    }

    std::unique_ptr<DeviceModel> model;
    RequestTrace trace{false};
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* stream = nullptr;
    std::unique_ptr<EventLog> log;
    BridgeContext context;
    std::uint64_t uptime = 1500;
    RequestInfo tcp{};
};

TEST_F(SimBridge, ServesTheUnitsDataAndLogsOneLinePerRequest) {
    const RequestInfo info = infoFor(1, tcp);
    std::uint16_t regs[4] = {};
    ASSERT_EQ(callbacksFor(1).readInputRegisters(1, regs, 4, &info), 1);
    EXPECT_EQ(regs[0], 1);    // uptime 1.5 s
    EXPECT_EQ(regs[2], 15);   // ramp
    onRequestServed("127.0.0.5");

    const std::uint16_t write[2] = {5, 6};
    ASSERT_EQ(callbacksFor(1).writeHoldingRegisters(11, write, 2, &info), 1);
    ASSERT_EQ(callbacksFor(1).readHoldingRegisters(10, regs, 3, &info), 1);
    EXPECT_EQ(regs[0], 100);
    EXPECT_EQ(regs[1], 5);
    EXPECT_EQ(regs[2], 6);
    onRequestServed("127.0.0.5");
    EXPECT_EQ(model->unit(2)->holding.get(10), 0);  // units are separate

    char bits[2] = {};
    ASSERT_EQ(callbacksFor(1).readCoils(65536, bits, 2, &info), 0);  // past 65535
    onRequestServed("127.0.0.5");

    EXPECT_EQ(lines(), std::vector<std::string>({
                           "127.0.0.5 unit 1: read input registers 0-3: ok",
                           "127.0.0.5 unit 1: write holding registers 10-11, read holding registers 9-11: ok",
                           "127.0.0.5 unit 1: read coils 65535-65536: refused, exception 2",
                       }));
    EXPECT_EQ(trace.finishedPerUnit()[1], 3u);
}

TEST_F(SimBridge, FileStatusAndIdentificationRequests) {
    const RequestInfo info = infoFor(2, tcp);
    std::uint16_t regs[2] = {};
    ASSERT_EQ(callbacksFor(2).readFileRecord(6, 1, 8, regs, 2, &info), 1);
    EXPECT_EQ(regs[0], 1008);
    EXPECT_EQ(regs[1], 1009);
    onRequestServed("127.0.0.5");
    ASSERT_EQ(callbacksFor(2).readFileRecord(6, 2, 0, regs, 1, &info), 0);
    onRequestServed("127.0.0.5");

    model->unit(2)->exceptionStatus = 0x5A;
    EXPECT_EQ(callbacksFor(2).readExceptionStatus(&info), 0x5A);
    onRequestServed("127.0.0.5");

    char text[250];
    const int length = callbacksFor(2).reportSlaveId(text, 250, &info);
    EXPECT_EQ(std::string(text, static_cast<std::size_t>(length)), "mbslave-sim demo device");
    EXPECT_EQ(callbacksFor(2).runIndicatorStatus(&info), 1);
    onRequestServed("127.0.0.5");

    // The library probes every object id, then fetches the listed ones.
    for (int id = 0; id < 256; ++id) callbacksFor(2).readDeviceIdObject(id, nullptr, 0, &info);
    char value[245];
    for (int id = 0; id < 7; ++id) callbacksFor(2).readDeviceIdObject(id, value, 245, &info);
    onRequestServed("127.0.0.5");
    callbacksFor(2).readDeviceIdObject(200, value, 245, &info);
    onRequestServed("127.0.0.5");

    EXPECT_EQ(lines(), std::vector<std::string>({
                           "127.0.0.5 unit 2: read file 1 records 8-9: ok",
                           "127.0.0.5 unit 2: read file 2 records 0: refused, exception 2",
                           "127.0.0.5 unit 2: read exception status: ok",
                           "127.0.0.5 unit 2: report slave id: ok",
                           "127.0.0.5 unit 2: read device identification objects 0-2,4-5: ok",
                           "127.0.0.5 unit 2: read device identification: refused, exception 2",
                       }));
}

TEST_F(SimBridge, SerialBroadcastIsOneLineOverAllUnits) {
    RequestInfo serial{};
    serial.protocolType = MB_PROTOCOL_RTU;
    serial.peerName = "/dev/pts/7";
    serial.slaveAddress = 0;
    const std::uint16_t value[1] = {42};
    ASSERT_EQ(callbacksFor(1).writeHoldingRegisters(6, value, 1, &serial), 1);
    ASSERT_EQ(callbacksFor(2).writeHoldingRegisters(6, value, 1, &serial), 1);
    EXPECT_EQ(trace.finish("/dev/pts/7"), "/dev/pts/7 broadcast to units 1-2: write holding registers 5: no reply (broadcast)");
    EXPECT_EQ(model->unit(1)->holding.get(5), 42);
    EXPECT_EQ(model->unit(2)->holding.get(5), 42);
    EXPECT_EQ(trace.finish("/dev/pts/7"),
              "/dev/pts/7: request answered without data access (diagnostics, or an exception response for an "
              "unsupported or malformed request)");
}

TEST_F(SimBridge, TimeOutNoticeOnlyAfterTheUnitWasPolled) {
    callbacksFor(1).signalTimeOut();  // never polled: silent
    const RequestInfo info = infoFor(1, tcp);
    std::uint16_t regs[1];
    callbacksFor(1).readHoldingRegisters(1, regs, 1, &info);
    onRequestServed("127.0.0.5");
    callbacksFor(1).signalTimeOut();
    callbacksFor(1).signalTimeOut();  // still silent: one notice only
    callbacksFor(2).signalTimeOut();
    EXPECT_EQ(context.timeOutNotices, 1u);
    EXPECT_EQ(lines().back(), "unit 1: master time-out, no request for 1000 ms");
}

TEST_F(SimBridge, ConnectionLinesAndRefusedAccessWithoutExceptions) {
    EXPECT_EQ(onConnectionAccepted("127.0.0.9"), 1);
    onConnectionClosed("127.0.0.9");
    EXPECT_EQ(context.connectionsOpened, 1u);

    RequestTrace quietTrace(true);
    context.trace = &quietTrace;
    const RequestInfo info = infoFor(1, tcp);
    char bits[2];
    callbacksFor(1).readInputDiscretes(65536, bits, 2, &info);
    onRequestServed("127.0.0.5");
    EXPECT_EQ(lines(), std::vector<std::string>({
                           "127.0.0.9: connection opened",
                           "127.0.0.9: connection closed",
                           "127.0.0.5 unit 1: read discrete inputs 65535-65536: refused, no reply (--no-exceptions)",
                       }));
}

// The web page's edits: what is written, and the clear refusals that write nothing.
TEST_F(SimBridge, WebEditsWriteValidValuesAndRefuseTheRest) {
    WebApi api(context, "test", true);
    struct Case {
        const char *unit, *table, *address, *value;
        int status;
        const char* replyPart;   // in the reply body
        std::uint16_t expected;  // the table's stored value afterwards (holding 20 for bad tables)
    };
    const auto stored = [&](const Case& c) -> int {
        const UnitModel& unit = *model->unit(1);
        const std::string table = c.table;
        if (table == "coils") return unit.coils.get(20);
        if (table == "input") return unit.input.get(2);
        if (table == "discrete") return unit.discretes.get(0);
        return unit.holding.get(20);
    };
    const Case cases[] = {
        {"1", "holding", "20", "4711", 200, "\"value\":4711", 4711},
        {"1", "holding", "20", "-1", 200, "\"value\":65535", 65535},
        {"1", "holding", "20", "0x1F", 200, "\"value\":31", 31},
        {"1", "holding", "20", "65536", 400, "65536 is out of range: a holding register holds 0..65535", 31},
        {"1", "holding", "20", "-32769", 400, "out of range", 31},
        {"1", "holding", "20", "99999999999999999999", 400, "out of range", 31},
        {"1", "holding", "20", "12abc", 400, "'12abc' is not a number", 31},
        {"1", "holding", "20", "", 400, "'' is not a number", 31},
        {"1", "holding", "20", "1.5", 400, "not a number", 31},
        {"1", "holding", "65536", "1", 404, "no holding register 65536: addresses are 0..65535", 31},
        {"1", "holding", "-1", "1", 404, "no holding register -1", 31},
        {"3", "holding", "20", "1", 404, "unit 3 is not served here (units 1-2)", 31},
        {"x", "holding", "20", "1", 404, "unit x is not served", 31},
        {"1", "files", "20", "1", 404, "no table 'files'", 31},
        {"1", "coils", "20", "1", 200, "\"value\":1", 1},
        {"1", "coils", "20", "2", 400, "'2' is not a coil value: use 0 or 1", 1},
        {"1", "coils", "20", "false", 200, "\"value\":0", 0},
        {"1", "input", "2", "7", 409, "input register 2 is a live value of the demo device", 0},
        {"1", "discrete", "0", "1", 409, "discrete input 0 is a live value", 0},
    };
    for (const Case& c : cases) {
        const WebReply reply = api.edit(c.unit, c.table, c.address, c.value);
        EXPECT_EQ(reply.status, c.status) << c.table << " " << c.address << " = '" << c.value << "': " << reply.body;
        EXPECT_NE(reply.body.find(c.replyPart), std::string::npos) << reply.body;
        EXPECT_EQ(stored(c), c.expected) << c.table << " = '" << c.value << "'";
    }
    // An edit reaches the next master read; other tables and units stay apart.
    ASSERT_EQ(api.edit("2", "input", "9", "0x8000").status, 200);
    const RequestInfo info = infoFor(2, tcp);
    std::uint16_t regs[1] = {};
    ASSERT_EQ(callbacksFor(2).readInputRegisters(10, regs, 1, &info), 1);
    EXPECT_EQ(regs[0], 0x8000);
    EXPECT_EQ(model->unit(1)->input.get(9), 0);
    EXPECT_EQ(model->unit(2)->holding.get(9), 100);
}

// What an open page is pushed: the view's values (each only when changed),
// the counters, and every finished request as a log record.
TEST_F(SimBridge, WebUpdatesCarryValuesCountersAndTheRequestLog) {
    TrafficRing ring;
    context.traffic = &ring;
    WebApi api(context, "test", true);
    WebView view;
    EXPECT_EQ(api.openView("1", "65534", "5", view).status, 200);
    EXPECT_EQ(view.count, 2);  // cut at the end of the address space
    EXPECT_EQ(api.openView("1", "0", "251", view).status, 400);
    EXPECT_EQ(api.openView("1", "65536", "1", view).status, 404);
    EXPECT_EQ(api.openView("9", "0", "1", view).status, 404);
    ASSERT_EQ(api.openView("1", "8", "3", view).status, 200);

    std::string events = api.update(view);
    EXPECT_NE(events.find("event: values\ndata: {\"unit\":1,\"start\":8,\"count\":3,\"coils\":[0,0,0],"
                          "\"discrete\":[0,0,0],\"holding\":[90,100,0,0],\"input\":[0,0,0,0]}\n\n"),
              std::string::npos)
        << events;
    EXPECT_EQ(events.find("event: log"), std::string::npos);
    EXPECT_TRUE(api.update(view).empty());  // nothing changed

    RequestInfo serial{};
    serial.protocolType = MB_PROTOCOL_RTU;
    serial.peerName = "/dev/pts/7";
    const std::uint16_t value[1] = {42};
    callbacksFor(1).writeHoldingRegisters(10, value, 1, &serial);  // broadcast (address 0)
    callbacksFor(2).writeHoldingRegisters(10, value, 1, &serial);
    finishRequest("/dev/pts/7");
    const RequestInfo info = infoFor(1, tcp);
    char bits[2];
    callbacksFor(1).readCoils(65536, bits, 2, &info);
    onRequestServed("127.0.0.5");
    onConnectionAccepted("127.0.0.5");
    {
        const std::lock_guard<std::mutex> guard(context.lock);
        context.received = 7;
        context.served = 5;
    }

    events = api.update(view);
    EXPECT_NE(events.find("\"holding\":[90,42,0,0]"), std::string::npos) << events;
    EXPECT_NE(events.find("event: counters\ndata: {\"received\":7,\"served\":5,\"connections\":1,"
                          "\"timeOuts\":0,\"perUnit\":{\"0\":1,\"1\":1}}"),
              std::string::npos)
        << events;
    EXPECT_NE(events.find("\"seq\":1,"), std::string::npos) << events;
    EXPECT_NE(events.find("\"master\":\"/dev/pts/7\",\"unit\":0,\"units\":\"1-2\",\"function\":\"write "
                          "holding registers\",\"range\":\"9\",\"result\":\"broadcast\",\"exception\":null}"),
              std::string::npos)
        << events;
    EXPECT_NE(events.find("\"seq\":2,"), std::string::npos) << events;
    EXPECT_NE(events.find("\"master\":\"127.0.0.5\",\"unit\":1,\"units\":\"\",\"function\":\"read coils\","
                          "\"range\":\"65535-65536\",\"result\":\"refused\",\"exception\":2}"),
              std::string::npos)
        << events;
    EXPECT_TRUE(api.update(view).empty());  // records are sent once

    // Under heavy traffic an update carries the newest records only.
    for (std::uint64_t i = 0; i < WebApi::kMaxLogRecordsPerUpdate + 50; ++i) ring.push(TrafficRecord{});
    events = api.update(view);
    EXPECT_EQ(events.find("\"seq\":52,"), std::string::npos) << events;
    EXPECT_NE(events.find("\"seq\":53,"), std::string::npos) << events;
    EXPECT_NE(events.find("\"seq\":152,"), std::string::npos) << events;
}

TEST(SimTrafficRing, KeepsTheNewestRecordsInOrder) {
    TrafficRing ring;
    TrafficRecord record;
    for (int i = 0; i < static_cast<int>(TrafficRing::kCapacity) + 3; ++i) {
        record.unit = i;
        ring.push(record);
    }
    std::vector<int> seen;
    const auto visit = [&](const TrafficRecord& r) { seen.push_back(r.unit); };
    EXPECT_EQ(ring.forEachAfter(0, visit), TrafficRing::kCapacity + 3);
    ASSERT_EQ(seen.size(), TrafficRing::kCapacity);  // the 3 oldest are overwritten
    EXPECT_EQ(seen.front(), 3);
    EXPECT_EQ(seen.back(), static_cast<int>(TrafficRing::kCapacity) + 2);
    seen.clear();
    ring.forEachAfter(TrafficRing::kCapacity + 1, visit);
    EXPECT_EQ(seen, std::vector<int>({static_cast<int>(TrafficRing::kCapacity) + 1,
                                      static_cast<int>(TrafficRing::kCapacity) + 2}));

    char field[8] = {};
    appendText(field, "abc");
    appendText(field, "defgh");
    EXPECT_STREQ(field, "abc, de");  // cut to fit, terminated
}

TEST_F(SimBridge, UnservedUnitRefusesEverything) {
    const RequestInfo info = infoFor(3, tcp);
    std::uint16_t regs[1];
    EXPECT_EQ(callbacksFor(3).readHoldingRegisters(1, regs, 1, &info), 0);
    EXPECT_EQ(callbacksFor(3).readDeviceIdObject(0, nullptr, 0, &info), 0);
    EXPECT_EQ(callbacksFor(3).runIndicatorStatus(&info), 0);
}

}  // namespace
}  // namespace sim

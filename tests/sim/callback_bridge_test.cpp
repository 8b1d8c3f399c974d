#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "callback_bridge.hpp"

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

TEST_F(SimBridge, UnservedUnitRefusesEverything) {
    const RequestInfo info = infoFor(3, tcp);
    std::uint16_t regs[1];
    EXPECT_EQ(callbacksFor(3).readHoldingRegisters(1, regs, 1, &info), 0);
    EXPECT_EQ(callbacksFor(3).readDeviceIdObject(0, nullptr, 0, &info), 0);
    EXPECT_EQ(callbacksFor(3).runIndicatorStatus(&info), 0);
}

}  // namespace
}  // namespace sim

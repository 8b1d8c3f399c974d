#include "engine/callback_data_table.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace mbslave {
namespace {

// What the last callback saw: its name, its integer arguments and the
// request context it was handed.
struct Seen {
    std::string name;
    std::vector<int> ints;
    const void* buffer = nullptr;
    const RequestInfo* info = nullptr;
    int timeOuts = 0;
};
Seen seen;

int record(const char* name, std::vector<int> ints, const void* buffer, const RequestInfo* info) {
    seen.name = name;
    seen.ints = std::move(ints);
    seen.buffer = buffer;
    seen.info = info;
    return 77;
}

Callbacks allCallbacks() {
    Callbacks c;
    c.readHoldingRegisters = [](int s, std::uint16_t* r, int n, const RequestInfo* i) {
        return record("readHoldingRegisters", {s, n}, r, i);
    };
    c.writeHoldingRegisters = [](int s, const std::uint16_t* r, int n, const RequestInfo* i) {
        return record("writeHoldingRegisters", {s, n}, r, i);
    };
    c.readInputRegisters = [](int s, std::uint16_t* r, int n, const RequestInfo* i) {
        return record("readInputRegisters", {s, n}, r, i);
    };
    c.readCoils = [](int s, char* b, int n, const RequestInfo* i) {
        return record("readCoils", {s, n}, b, i);
    };
    c.writeCoils = [](int s, const char* b, int n, const RequestInfo* i) {
        return record("writeCoils", {s, n}, b, i);
    };
    c.readInputDiscretes = [](int s, char* b, int n, const RequestInfo* i) {
        return record("readInputDiscretes", {s, n}, b, i);
    };
    c.readRegisters32 = [](int s, std::int32_t* r, int n, const RequestInfo* i) {
        return record("readRegisters32", {s, n}, r, i);
    };
    c.writeRegisters32 = [](int s, const std::int32_t* r, int n, const RequestInfo* i) {
        return record("writeRegisters32", {s, n}, r, i);
    };
    c.readExceptionStatus = [](const RequestInfo* i) {
        return record("readExceptionStatus", {}, nullptr, i);
    };
    c.signalTimeOut = [] { ++seen.timeOuts; };
    c.readFileRecord = [](int t, int f, int r, std::uint16_t* a, int n, const RequestInfo* i) {
        return record("readFileRecord", {t, f, r, n}, a, i);
    };
    c.writeFileRecord = [](int t, int f, int r, const std::uint16_t* a, int n, const RequestInfo* i) {
        return record("writeFileRecord", {t, f, r, n}, a, i);
    };
    c.reportSlaveId = [](char* b, int n, const RequestInfo* i) {
        return record("reportSlaveId", {n}, b, i);
    };
    c.runIndicatorStatus = [](const RequestInfo* i) {
        return record("runIndicatorStatus", {}, nullptr, i);
    };
    c.readDeviceIdObject = [](int id, char* b, int n, const RequestInfo* i) {
        return record("readDeviceIdObject", {id, n}, b, i);
    };
    return c;
}

struct ForwardCase {
    const char* name;
    std::function<int(DataTable&)> call;
    std::vector<int> ints;
};

std::uint16_t registers[4];
std::int32_t registers32[4];
char bits[4];

std::vector<ForwardCase> forwardCases() {
    return {
        {"readHoldingRegisters", [](DataTable& t) { return t.readHoldingRegisters(1, registers, 2); }, {1, 2}},
        {"writeHoldingRegisters", [](DataTable& t) { return t.writeHoldingRegisters(3, registers, 4); }, {3, 4}},
        {"readInputRegisters", [](DataTable& t) { return t.readInputRegisters(65536, registers, 1); }, {65536, 1}},
        {"readCoils", [](DataTable& t) { return t.readCoils(5, bits, 3); }, {5, 3}},
        {"writeCoils", [](DataTable& t) { return t.writeCoils(6, bits, 1); }, {6, 1}},
        {"readInputDiscretes", [](DataTable& t) { return t.readInputDiscretes(7, bits, 2); }, {7, 2}},
        {"readRegisters32", [](DataTable& t) { return t.readRegisters32(8, registers32, 2); }, {8, 2}},
        {"writeRegisters32", [](DataTable& t) { return t.writeRegisters32(9, registers32, 1); }, {9, 1}},
        {"readExceptionStatus", [](DataTable& t) { return t.readExceptionStatus(); }, {}},
        {"readFileRecord", [](DataTable& t) { return t.readFileRecord(-1, 4, 9, registers, 3); }, {-1, 4, 9, 3}},
        {"writeFileRecord", [](DataTable& t) { return t.writeFileRecord(6, 1, 2, registers, 4); }, {6, 1, 2, 4}},
        {"reportSlaveId", [](DataTable& t) { return t.reportSlaveId(bits, 250); }, {250}},
        {"runIndicatorStatus", [](DataTable& t) { return t.runIndicatorStatus(); }, {}},
        {"readDeviceIdObject", [](DataTable& t) { return t.readDeviceIdObject(128, nullptr, 0); }, {128, 0}},
    };
}

TEST(CallbackDataTable, ForwardsArgumentsAndRequestInfoAndResult) {
    RequestInfo info{MB_PROTOCOL_TCP, 17, "127.0.0.1", 0xBEEF};
    CallbackDataTable table;
    table.setCallbacks(allCallbacks());
    table.requestInfo = &info;
    for (const ForwardCase& c : forwardCases()) {
        seen = Seen{};
        EXPECT_EQ(c.call(table), 77) << c.name;
        EXPECT_EQ(seen.name, c.name);
        EXPECT_EQ(seen.ints, c.ints) << c.name;
        EXPECT_EQ(seen.info, &info) << c.name;
    }
}

TEST(CallbackDataTable, NullCallbacksRefuseAndBaseDefaultsRefuse) {
    CallbackDataTable table;
    DataTable base;
    for (const ForwardCase& c : forwardCases()) {
        seen = Seen{};
        EXPECT_EQ(c.call(table), 0) << c.name;
        EXPECT_EQ(c.call(base), 0) << c.name;
        EXPECT_TRUE(seen.name.empty()) << c.name;
    }
    table.signalTimeOut();  // must not crash with no callback
    base.signalTimeOut();
    base.lock();
    base.unlock();
}

TEST(CallbackDataTable, SignalTimeOutCallsItsCallback) {
    CallbackDataTable table;
    table.setCallbacks(allCallbacks());
    seen = Seen{};
    table.signalTimeOut();
    table.signalTimeOut();
    EXPECT_EQ(seen.timeOuts, 2);
}

TEST(CallbackDataTable, ReplacingCallbacksDropsOldOnes) {
    CallbackDataTable table;
    table.setCallbacks(allCallbacks());
    Callbacks onlyCoils;
    onlyCoils.readCoils = allCallbacks().readCoils;
    table.setCallbacks(onlyCoils);
    seen = Seen{};
    EXPECT_EQ(table.readHoldingRegisters(1, registers, 1), 0);
    EXPECT_EQ(table.readCoils(1, bits, 1), 77);
    EXPECT_EQ(seen.name, "readCoils");
}

}  // namespace
}  // namespace mbslave

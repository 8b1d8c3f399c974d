#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "demo_device.hpp"
#include "device_model.hpp"
#include "unit_model.hpp"

namespace sim {
namespace {

TEST(SimUnitModel, RegisterRangesCoverExactlyTheWireAddresses) {
    struct Case {
        int startRef;
        int count;
        bool accepted;
    };
    const Case cases[] = {
        {1, 1, true},       {1, 125, true},      {65536, 1, true},  {65412, 125, true},
        {65413, 125, false}, {0, 1, false},      {-5, 3, false},    {65537, 1, false},
        {1, 0, false},
    };
    UnitModel unit;
    std::vector<std::uint16_t> buffer(125);
    std::vector<char> bits(125);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "startRef " << c.startRef << " count " << c.count);
        EXPECT_EQ(unit.readHolding(c.startRef, buffer.data(), c.count), c.accepted);
        EXPECT_EQ(unit.writeHolding(c.startRef, buffer.data(), c.count), c.accepted);
        EXPECT_EQ(unit.readInput(c.startRef, buffer.data(), c.count, 0), c.accepted);
        EXPECT_EQ(unit.readCoils(c.startRef, bits.data(), c.count), c.accepted);
        EXPECT_EQ(unit.writeCoils(c.startRef, bits.data(), c.count), c.accepted);
        EXPECT_EQ(unit.readDiscretes(c.startRef, bits.data(), c.count, 0), c.accepted);
    }
}

TEST(SimUnitModel, WritesAreKeptAndUnwrittenDataReadsZero) {
    UnitModel unit;
    const std::uint16_t values[] = {7, 0, 65535};
    ASSERT_TRUE(unit.writeHolding(65534, values, 3));  // wire 65533..65535
    std::uint16_t read[4] = {1, 1, 1, 1};
    ASSERT_TRUE(unit.readHolding(65533, read, 4));
    EXPECT_EQ(read[0], 0);
    EXPECT_EQ(read[1], 7);
    EXPECT_EQ(read[2], 0);
    EXPECT_EQ(read[3], 65535);

    const char coils[] = {1, 0, 1};
    ASSERT_TRUE(unit.writeCoils(256, coils, 3));  // crosses a page boundary
    char bits[3] = {9, 9, 9};
    ASSERT_TRUE(unit.readCoils(256, bits, 3));
    EXPECT_EQ(std::vector<char>(bits, bits + 3), std::vector<char>({1, 0, 1}));
    EXPECT_EQ(unit.coils.get(255), 1);
    EXPECT_EQ(unit.coils.get(256), 0);
}

TEST(SimUnitModel, FileRecordsNeedAKnownFileReferenceTypeSixAndRecordsBelow10000) {
    UnitModel unit;
    unit.files[3];
    std::uint16_t regs[2] = {11, 22};
    EXPECT_TRUE(unit.writeFile(6, 3, 9998, regs, 2));
    std::uint16_t read[2] = {};
    EXPECT_TRUE(unit.readFile(6, 3, 9998, read, 2));
    EXPECT_EQ(read[0], 11);
    EXPECT_EQ(read[1], 22);
    EXPECT_FALSE(unit.readFile(6, 3, 9999, read, 2));  // record 10000 does not exist
    EXPECT_FALSE(unit.readFile(5, 3, 0, read, 1));     // reference type
    EXPECT_FALSE(unit.readFile(6, 4, 0, read, 1));     // no such file
    EXPECT_FALSE(unit.writeFile(6, 4, 0, regs, 1));
    EXPECT_FALSE(unit.readFile(6, 3, -1, read, 1));
}

TEST(SimUnitModel, DeviceIdentificationProbeReportsLengthFetchCopiesWhatFits) {
    UnitModel unit;
    unit.deviceId[0] = "Acme";
    char buffer[8] = {};
    EXPECT_EQ(unit.deviceIdObject(0, nullptr, 0), 4);
    EXPECT_EQ(unit.deviceIdObject(1, nullptr, 0), 0);
    EXPECT_EQ(unit.deviceIdObject(0, buffer, 8), 4);
    EXPECT_EQ(std::string(buffer, 4), "Acme");
    EXPECT_EQ(unit.deviceIdObject(0, buffer, 3), 0);
}

TEST(SimUnitModel, ReportSlaveIdRefusesEmptyAndOversizedTexts) {
    UnitModel unit;
    char buffer[250];
    EXPECT_EQ(unit.reportSlaveId(buffer, 250), 0);
    unit.slaveId = "pump";
    EXPECT_EQ(unit.reportSlaveId(buffer, 250), 4);
    EXPECT_EQ(std::string(buffer, 4), "pump");
    unit.slaveId.assign(250, 'x');
    EXPECT_EQ(unit.reportSlaveId(buffer, 250), 0);
}

TEST(SimDemoDevice, LiveValuesFollowTheUptime) {
    struct Case {
        std::uint64_t uptimeMs;
        std::uint16_t uptimeLow, uptimeHigh, ramp, temperature;
        int blink;
    };
    const Case cases[] = {
        {0, 0, 0, 0, 200, 0},
        {1500, 1, 0, 15, 205, 1},
        {30000, 30, 0, 300, 300, 0},
        {45000, 45, 0, 450, 250, 1},
        {99999, 99, 0, 999, 266, 1},
        {100000, 100, 0, 0, 266, 0},
        {65536000ull * 3 + 2000, 2, 3, 100, 233, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.uptimeMs);
        EXPECT_EQ(demoInputRegister(0, c.uptimeMs), c.uptimeLow);
        EXPECT_EQ(demoInputRegister(1, c.uptimeMs), c.uptimeHigh);
        EXPECT_EQ(demoInputRegister(2, c.uptimeMs), c.ramp);
        EXPECT_EQ(demoInputRegister(3, c.uptimeMs), c.temperature);
        EXPECT_EQ(demoBlinkingInput(c.uptimeMs), c.blink);
    }
}

TEST(SimDemoDevice, LiveRegistersOverlayTheStoredOnesOnlyWhenLive) {
    UnitModel unit;
    loadDemoDevice(unit, "2.11.0.0");
    unit.input.set(3, 777);
    unit.input.set(4, 888);
    std::uint16_t regs[3] = {};
    ASSERT_TRUE(unit.readInput(3, regs, 3, 1500));  // wire 2..4
    EXPECT_EQ(regs[0], 15);
    EXPECT_EQ(regs[1], 205);
    EXPECT_EQ(regs[2], 888);
    unit.live = false;
    ASSERT_TRUE(unit.readInput(3, regs, 3, 1500));
    EXPECT_EQ(regs[0], 0);
    EXPECT_EQ(regs[1], 777);

    char bits[2] = {};
    unit.live = true;
    ASSERT_TRUE(unit.readDiscretes(1, bits, 2, 1500));
    EXPECT_EQ(bits[0], 1);
    EXPECT_EQ(bits[1], 1);
    ASSERT_TRUE(unit.readDiscretes(1, bits, 2, 2500));
    EXPECT_EQ(bits[0], 0);
}

TEST(SimDeviceModel, OnlyServedUnitsHaveDataAndAllCarryIdentification) {
    UnitSet served;
    served.set(1);
    served.set(255);
    DeviceModel model(served, "2.11.0.0", false);
    EXPECT_EQ(model.unit(0), nullptr);
    EXPECT_EQ(model.unit(2), nullptr);
    EXPECT_EQ(model.unit(-1), nullptr);
    EXPECT_EQ(model.unit(256), nullptr);
    ASSERT_NE(model.unit(255), nullptr);
    const UnitModel& unit = *model.unit(1);
    EXPECT_EQ(unit.deviceId.at(2), "2.11.0.0");
    EXPECT_EQ(unit.deviceId.size(), 3u);
    EXPECT_FALSE(unit.live);
    EXPECT_EQ(unit.holding.get(0), 0);

    DeviceModel demo(served, "2.11.0.0", true);
    EXPECT_TRUE(demo.unit(1)->live);
    EXPECT_EQ(demo.unit(1)->holding.get(9), 100);
    EXPECT_EQ(demo.unit(255)->files.count(1), 1u);
}

}  // namespace
}  // namespace sim

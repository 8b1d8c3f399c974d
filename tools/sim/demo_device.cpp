#include "demo_device.hpp"

namespace sim {

namespace {

constexpr int kDemoFile = 1;
constexpr std::uint64_t kTemperaturePeriodMs = 60000;

std::uint16_t triangle(std::uint64_t uptimeMs, std::uint64_t periodMs, int low, int high) {
    const std::uint64_t half = periodMs / 2;
    const std::uint64_t phase = uptimeMs % periodMs;
    const std::uint64_t rising = phase < half ? phase : periodMs - phase;
    return static_cast<std::uint16_t>(low + static_cast<int>(rising * static_cast<std::uint64_t>(high - low) / half));
}

}  // namespace

void loadIdentification(UnitModel& unit, const std::string& revision) {
    unit.deviceId[0] = "mbslave";
    unit.deviceId[1] = "mbslave-sim";
    unit.deviceId[2] = revision;
    unit.slaveId = "mbslave-sim";
}

void loadDemoDevice(UnitModel& unit, const std::string& revision) {
    loadIdentification(unit, revision);
    unit.deviceId[4] = "Modbus slave simulator";
    unit.deviceId[5] = "demo device";
    unit.slaveId = "mbslave-sim demo device";
    for (int i = 0; i < 10; ++i) unit.holding.set(static_cast<std::uint16_t>(i), static_cast<std::uint16_t>(10 * (i + 1)));
    for (int i = 0; i < 8; ++i) unit.coils.set(static_cast<std::uint16_t>(i), i % 2 == 0 ? 1 : 0);
    unit.discretes.set(1, 1);
    auto& file = unit.files[kDemoFile];
    for (int i = 0; i < 10; ++i) file.set(static_cast<std::uint16_t>(i), static_cast<std::uint16_t>(1000 + i));
    unit.live = true;
}

std::uint16_t demoInputRegister(int address, std::uint64_t uptimeMs) {
    const std::uint64_t seconds = uptimeMs / 1000;
    switch (address) {
        case 0: return static_cast<std::uint16_t>(seconds & 0xFFFF);
        case 1: return static_cast<std::uint16_t>((seconds >> 16) & 0xFFFF);
        case 2: return static_cast<std::uint16_t>((uptimeMs / 100) % 1000);
        case 3: return triangle(uptimeMs, kTemperaturePeriodMs, 200, 300);
        default: return 0;
    }
}

int demoBlinkingInput(std::uint64_t uptimeMs) { return static_cast<int>((uptimeMs / 1000) % 2); }

}  // namespace sim

// A serial device that plays back scripted input and records every call in
// order, with the time it was made: what a pseudo-terminal cannot show (RTS
// levels, their order around a reply, the turnaround delay) and failures a
// real device rarely produces.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/serial_device.hpp"

namespace mbslave::test {

class FakeSerialDevice : public platform::SerialDevice {
public:
    using DeviceResult = platform::DeviceResult;
    using Clock = std::chrono::steady_clock;

    enum class Call {
        open, close, saveSettings, restoreSettings, applyLineSettings,
        readByte, write, drain, purge, rtsOn, rtsOff,
        marker,  // put in by the test itself (mark())
    };
    struct Event {
        Call call;
        Clock::time_point at;
    };
    // An input entry that makes one read end by time-out.
    static constexpr int kSilence = -1;

    // Script: results of the calls, and the input the reads deliver.
    DeviceResult openResult = DeviceResult::ok;
    DeviceResult saveResult = DeviceResult::ok;
    DeviceResult restoreResult = DeviceResult::ok;
    DeviceResult applyResult = DeviceResult::ok;
    DeviceResult writeResult = DeviceResult::ok;
    DeviceResult drainResult = DeviceResult::ok;
    DeviceResult purgeResult = DeviceResult::ok;
    DeviceResult rtsResult = DeviceResult::ok;
    std::deque<int> input;                           // bytes, or kSilence
    DeviceResult endOfInput = DeviceResult::timeout;  // once input is used up
    bool switchesRts = false;  // the driver's RS-485 mode switches RTS

    // Record.
    std::vector<Event> events;
    std::string openedPath;
    std::vector<platform::LineSettings> appliedSettings;
    std::vector<std::uint32_t> readTimeouts;
    std::vector<std::vector<std::uint8_t>> writes;
    std::vector<std::uint32_t> writeTimeouts;
    std::vector<std::uint32_t> drainTimeouts;
    bool rtsAsserted = false;

    void queue(std::initializer_list<int> entries) { input.insert(input.end(), entries); }
    void mark() { record(Call::marker); }

    std::vector<Call> calls() const {
        std::vector<Call> result;
        for (const Event& event : events) result.push_back(event.call);
        return result;
    }
    int count(Call call) const {
        int n = 0;
        for (const Event& event : events) n += event.call == call ? 1 : 0;
        return n;
    }
    // Time between the first events of two kinds.
    Clock::duration between(Call first, Call second) const {
        return at(second) - at(first);
    }
    Clock::time_point at(Call call) const {
        for (const Event& event : events) {
            if (event.call == call) return event.at;
        }
        return {};
    }

    DeviceResult open(const char* path) noexcept override {
        record(Call::open);
        openedPath = path;
        isOpen_ = openResult == DeviceResult::ok;
        if (isOpen_) rtsAsserted = true;  // as Linux raises RTS (and DTR) on every open
        return openResult;
    }
    void close() noexcept override {
        if (!isOpen_) return;
        record(Call::close);
        isOpen_ = false;
    }
    bool isOpen() const noexcept override { return isOpen_; }

    DeviceResult saveSettings() noexcept override { return record(Call::saveSettings, saveResult); }
    DeviceResult restoreSettings() noexcept override {
        return record(Call::restoreSettings, restoreResult);
    }
    DeviceResult applyLineSettings(const platform::LineSettings& settings) noexcept override {
        if (applyResult == DeviceResult::ok) appliedSettings.push_back(settings);
        return record(Call::applyLineSettings, applyResult);
    }

    DeviceResult readByte(std::uint8_t& byte, std::uint32_t timeoutUs) noexcept override {
        record(Call::readByte);
        readTimeouts.push_back(timeoutUs);
        if (input.empty()) return endOfInput;
        const int entry = input.front();
        input.pop_front();
        if (entry == kSilence) return DeviceResult::timeout;
        byte = static_cast<std::uint8_t>(entry);
        return DeviceResult::ok;
    }
    DeviceResult write(const std::uint8_t* data, int length, std::uint32_t timeoutMs) noexcept override {
        record(Call::write);
        writes.emplace_back(data, data + length);
        writeTimeouts.push_back(timeoutMs);
        return writeResult;
    }
    DeviceResult drain(std::uint32_t timeoutMs) noexcept override {
        drainTimeouts.push_back(timeoutMs);
        return record(Call::drain, drainResult);
    }
    DeviceResult purge() noexcept override { return record(Call::purge, purgeResult); }
    DeviceResult setRts(bool asserted) noexcept override {
        record(asserted ? Call::rtsOn : Call::rtsOff);
        if (rtsResult == DeviceResult::ok) rtsAsserted = asserted;
        return rtsResult;
    }
    bool driverSwitchesRts() const noexcept override { return switchesRts; }

private:
    DeviceResult record(Call call, DeviceResult result = DeviceResult::ok) {
        events.push_back({call, Clock::now()});
        return result;
    }

    bool isOpen_ = false;
};

}  // namespace mbslave::test

// A serial device without any heap use, for fuzzers and allocation checks:
// reads play back a fixed-size script of bytes, silences (a read that ends
// by time-out) and failures; writes are kept in a fixed buffer.
#pragma once

#include <cstdint>
#include <cstring>

#include "platform/serial_device.hpp"

namespace mbslave::test {

class ScriptedSerialDevice : public platform::SerialDevice {
public:
    using DeviceResult = platform::DeviceResult;
    static constexpr int kSilence = -1;  // the read ends by time-out
    static constexpr int kFailure = -2;  // the read fails
    static constexpr int kScriptCapacity = 8192;
    static constexpr int kWrittenCapacity = 4096;

    // Script; once used up, every read ends by time-out.
    void clearScript() noexcept { scriptLength = position = 0; }
    bool add(int entry) noexcept {
        if (scriptLength == kScriptCapacity) return false;
        script[scriptLength++] = entry;
        return true;
    }
    bool add(const std::uint8_t* bytes, int length) noexcept {
        for (int i = 0; i < length; ++i) {
            if (!add(bytes[i])) return false;
        }
        return true;
    }
    bool scriptUsedUp() const noexcept { return position >= scriptLength; }

    // What was written since the last clearWritten(), concatenated.
    void clearWritten() noexcept { writtenLength = writeCount = 0; }
    const std::uint8_t* written() const noexcept { return writtenBytes; }
    int writtenCount() const noexcept { return writtenLength; }
    int writes() const noexcept { return writeCount; }

    DeviceResult open(const char*) noexcept override {
        isOpen_ = true;
        return DeviceResult::ok;
    }
    void close() noexcept override { isOpen_ = false; }
    bool isOpen() const noexcept override { return isOpen_; }
    DeviceResult saveSettings() noexcept override { return DeviceResult::ok; }
    DeviceResult restoreSettings() noexcept override { return DeviceResult::ok; }
    DeviceResult applyLineSettings(const platform::LineSettings&) noexcept override { return DeviceResult::ok; }

    DeviceResult readByte(std::uint8_t& byte, std::uint32_t) noexcept override {
        if (position >= scriptLength) return DeviceResult::timeout;
        const int entry = script[position++];
        if (entry == kSilence) return DeviceResult::timeout;
        if (entry == kFailure) return DeviceResult::ioError;
        byte = static_cast<std::uint8_t>(entry);
        return DeviceResult::ok;
    }
    DeviceResult write(const std::uint8_t* data, int length, std::uint32_t) noexcept override {
        ++writeCount;
        const int room = kWrittenCapacity - writtenLength;
        const int kept = length < room ? length : room;
        if (kept > 0) std::memcpy(writtenBytes + writtenLength, data, static_cast<std::size_t>(kept));
        writtenLength += kept > 0 ? kept : 0;
        return DeviceResult::ok;
    }
    DeviceResult drain(std::uint32_t) noexcept override { return DeviceResult::ok; }
    DeviceResult purge() noexcept override { return DeviceResult::ok; }
    DeviceResult setRts(bool) noexcept override { return DeviceResult::ok; }

private:
    int script[kScriptCapacity] = {};
    int scriptLength = 0;
    int position = 0;
    std::uint8_t writtenBytes[kWrittenCapacity] = {};
    int writtenLength = 0;
    int writeCount = 0;
    bool isOpen_ = false;
};

}  // namespace mbslave::test

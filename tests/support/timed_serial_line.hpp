// A serial device whose input reaches the reader the way real receivers
// hand it over: a master's frames paced by the baud rate, given to the
// system in the bursts of a 16550-type UART (at its FIFO trigger level, the
// rest after 4 quiet character times) or of a USB adapter (62-byte packets,
// or what is there when the latency timer runs out). It runs on a virtual
// microsecond clock that only reads which wait move on, and sets FakeClock
// from it, so a protocol ticking on FakeClock sees the same time and a whole
// table of rates and receivers runs in moments.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <vector>

#include "platform/serial_device.hpp"
#include "support/fake_clock.hpp"

namespace mbslave::test {

struct LineReceiver {
    enum class Kind { immediate, uart, usbAdapter };
    Kind kind = Kind::immediate;
    int parameter = 0;  // uart: FIFO trigger level in bytes; usbAdapter: latency timer in ms
};

class TimedSerialDevice : public platform::SerialDevice {
public:
    using DeviceResult = platform::DeviceResult;
    static constexpr int kUsbPacketBytes = 62;
    static constexpr int kUartQuietCharacters = 4;

    TimedSerialDevice(LineReceiver receiver, int baud, int bitsPerCharacter)
        : receiver_(receiver), characterUs_(1e6 * bitsPerCharacter / baud) {
        FakeClock::set(0);
    }

    // The master starts sending frame after idleUs of quiet on the line.
    void send(const std::vector<std::uint8_t>& frame, double idleUs = 20000) {
        const double start = std::max(now_, lineFreeAt_) + idleUs;
        const int length = static_cast<int>(frame.size());
        std::vector<double> handedAt = handOverTimes(start, length);
        for (int i = 0; i < length; ++i) pending_.push_back({handedAt[static_cast<std::size_t>(i)], frame[static_cast<std::size_t>(i)]});
        lineFreeAt_ = start + length * characterUs_;
    }
    bool inputUsedUp() const { return pending_.empty(); }
    // What the slave wrote, one entry per write.
    std::vector<std::vector<std::uint8_t>> writes;

    DeviceResult open(const char*) noexcept override {
        open_ = true;
        return DeviceResult::ok;
    }
    void close() noexcept override { open_ = false; }
    bool isOpen() const noexcept override { return open_; }
    DeviceResult saveSettings() noexcept override { return DeviceResult::ok; }
    DeviceResult restoreSettings() noexcept override { return DeviceResult::ok; }
    DeviceResult applyLineSettings(const platform::LineSettings&) noexcept override { return DeviceResult::ok; }

    DeviceResult readByte(std::uint8_t& byte, std::uint32_t timeoutUs) noexcept override {
        if (pending_.empty()) {
            if (timeoutUs == 0) return DeviceResult::ioError;  // would wait for ever
            advance(timeoutUs);
            return DeviceResult::timeout;
        }
        const Arrival next = pending_.front();
        if (next.at > now_) {
            if (timeoutUs != 0 && next.at - now_ > timeoutUs) {
                advance(timeoutUs);
                return DeviceResult::timeout;
            }
            advance(next.at - now_);
        }
        pending_.pop_front();
        byte = next.byte;
        return DeviceResult::ok;
    }
    DeviceResult write(const std::uint8_t* data, int length, std::uint32_t) noexcept override {
        writes.emplace_back(data, data + length);
        advance(length * characterUs_);
        return DeviceResult::ok;
    }
    DeviceResult drain(std::uint32_t) noexcept override { return DeviceResult::ok; }
    DeviceResult purge() noexcept override {
        while (!pending_.empty() && pending_.front().at <= now_) pending_.pop_front();
        return DeviceResult::ok;
    }
    DeviceResult setRts(bool) noexcept override { return DeviceResult::ok; }

private:
    struct Arrival {
        double at;
        std::uint8_t byte;
    };

    void advance(double us) {
        now_ += us;
        FakeClock::set(static_cast<std::uint32_t>(static_cast<std::uint64_t>(now_ / 1000)));
    }

    // When each byte of a frame sent without gaps from start on is handed
    // to the reader; byte i has been received at start + (i + 1) characters.
    std::vector<double> handOverTimes(double start, int length) const {
        std::vector<double> at(static_cast<std::size_t>(length));
        auto received = [&](int i) { return start + (i + 1) * characterUs_; };
        if (receiver_.kind == LineReceiver::Kind::uart && receiver_.parameter > 1) {
            const int trigger = receiver_.parameter;
            const int inFullFifos = length / trigger * trigger;
            for (int i = 0; i < length; ++i) {
                at[static_cast<std::size_t>(i)] = i < inFullFifos ? received((i / trigger + 1) * trigger - 1)
                                                                  : received(length - 1 + kUartQuietCharacters);
            }
        } else if (receiver_.kind == LineReceiver::Kind::usbAdapter) {
            // The latency timer restarts with every packet, the ones it sends
            // when it runs out (also empty ones) and the full ones.
            const double latency = 1000.0 * receiver_.parameter;
            double timerStart = start;
            int firstBuffered = 0;
            auto flush = [&](int end, double when) {
                for (int j = firstBuffered; j < end; ++j) at[static_cast<std::size_t>(j)] = when;
                firstBuffered = end;
                timerStart = when;
            };
            for (int i = 0; i < length; ++i) {
                while (timerStart + latency <= received(i)) flush(i, timerStart + latency);
                if (i + 1 - firstBuffered == kUsbPacketBytes) flush(i + 1, received(i));
            }
            if (firstBuffered < length) flush(length, timerStart + latency);
        } else {
            for (int i = 0; i < length; ++i) at[static_cast<std::size_t>(i)] = received(i);
        }
        return at;
    }

    LineReceiver receiver_;
    double characterUs_;
    double now_ = 0;
    double lineFreeAt_ = 0;
    std::deque<Arrival> pending_;
    bool open_ = false;
};

}  // namespace mbslave::test

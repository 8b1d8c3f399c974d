// What the serial hardware in front of the line does to RTU timing. UARTs
// and USB adapters hand received bytes to the system in bursts, and a pause
// between two bursts inside one frame looks like the silence that ends it.
// From the adapter's latency timer or the UART's receive trigger level, read
// from sysfs, follows the frame tolerance that keeps frames whole.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "options.hpp"

namespace sim {

// How received bytes reach the reader.
struct ByteHandOver {
    enum class Kind {
        immediate,  // every byte at once (a pseudo-terminal)
        uart,       // a 16550-type FIFO: at its trigger level, or after 4 quiet character times
        usbAdapter, // 62-byte packets, or what is there when the latency timer runs out
    };
    Kind kind = Kind::immediate;
    int parameter = 0;  // uart: trigger level in bytes; usbAdapter: latency timer in ms
};

constexpr int kUsbPacketBytes = 62;
constexpr int kUartQuietCharacters = 4;

// Microseconds one character of bitsPerCharacter bits takes at baud.
double characterTimeUs(int baud, int bitsPerCharacter);

// The longest pause between two hand-overs inside a frame sent without
// gaps, in microseconds.
double longestHandOverGapUs(const ByteHandOver& handOver, int baud, int bitsPerCharacter);

// The RTU silence that ends a frame without tolerance, in microseconds, as
// the library measures it (library_limits.hpp).
double rtuSilentIntervalUs(int baud);

// The smallest frame tolerance in ms (0..20) under which the longest pause
// does not end an RTU frame; nullopt when even 20 ms is not enough.
std::optional<std::uint32_t> toleranceForHandOver(const ByteHandOver& handOver, int baud, int bitsPerCharacter);

// The tty name behind a device path (symbolic links such as
// /dev/serial/by-id/... followed; COMn is ttyS<n-1>).
std::string ttyName(const std::string& device);

// The hand-over of the device as sysfs describes it under sysRoot: a USB
// serial adapter's latency_timer, else a UART's rx_trig_bytes; immediate
// when neither is there.
ByteHandOver probeHandOver(const std::string& device, const std::string& sysRoot = "/sys");

// "USB adapter, latency timer 16 ms", "UART, receive trigger 8 bytes".
std::string describeHandOver(const ByteHandOver& handOver);

// Windows has no sysfs to ask: the hand-overs of its defaults stand in, a
// UART at serial.sys's receive FIFO trigger (14 bytes) and an FTDI adapter
// at its driver's latency timer (16 ms).
constexpr ByteHandOver kSerialSysUart{ByteHandOver::Kind::uart, 14};
constexpr ByteHandOver kFtdiAdapter{ByteHandOver::Kind::usbAdapter, 16};

// For an RTU server without --tolerance: sets the frame tolerance that the
// device's hand-over calls for (sysfs under sysRoot; on Windows
// windowsDefaultFrameTolerance). Returns the part of the start line that
// says which tolerance applies and why; empty for the other transports.
std::string resolveFrameTolerance(SimOptions& options, const std::string& sysRoot = "/sys");

// The larger of the tolerances the two Windows defaults need, set as the
// frame tolerance; returns the start line's text for it.
std::string windowsDefaultFrameTolerance(SimOptions& options);

}  // namespace sim

// Timing and size rules of Modbus RTU frames on a serial line.
#pragma once

#include <cstdint>

#include "engine/rtu_frame_bytes.hpp"

namespace mbslave {

// A received frame holds at least address, function code and CRC, and at
// most 255 bytes; the buffer has one byte more, which a frame that runs
// past 255 bytes keeps overwriting.
constexpr int kRtuFrameBufferSize = 256;
constexpr int kMinRtuFrameLength = 4;
constexpr int kMaxRtuFrameLength = 255;

// Silence that ends a frame at least, in microseconds.
constexpr std::int32_t kMinSilentInterval = 2000;
constexpr std::uint32_t kMaxFrameToleranceMs = 20;

// Silence in microseconds that ends a frame: four 11-bit character times
// (computed in single precision, rounded), at least 2000, plus the tolerance.
std::int32_t rtuSilentInterval(std::int32_t baudRate, std::int32_t toleranceUs) noexcept;

}  // namespace mbslave

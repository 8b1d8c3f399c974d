#include "serial/rtu_frame.hpp"

#include "engine/modbus_codes.hpp"

namespace mbslave {

std::int32_t rtuSilentInterval(std::int32_t baudRate, std::int32_t toleranceUs) noexcept {
    std::int32_t interval = kMinSilentInterval;
    // Rates of 0 and below run no line (the start-up refuses them); they get
    // the floor instead of a division by zero.
    if (baudRate > 0) {
        const float characterTimes = (11000000.0f / static_cast<float>(baudRate)) * 4.0f;
        interval = static_cast<std::int32_t>(0.5f + characterTimes);
    }
    if (interval <= kMinSilentInterval) interval = kMinSilentInterval;
    return interval + toleranceUs;
}

int expectedRtuRequestLength(const std::uint8_t* frame) noexcept {
    const int functionCode = static_cast<std::int8_t>(frame[1]);
    if (functionCode >= 1 && functionCode <= 6) return 8;
    switch (functionCode) {
        case FunctionCode::kReadExceptionStatus: return 6;
        case FunctionCode::kWriteMultipleCoils:
        case FunctionCode::kWriteMultipleRegisters: return frame[6] + 9;
        case FunctionCode::kMaskWriteRegister: return 10;
        case FunctionCode::kReadWriteMultipleRegisters: return frame[10] + 13;
        default: return 0;
    }
}

}  // namespace mbslave

#include "serial/rtu_frame.hpp"


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

}  // namespace mbslave

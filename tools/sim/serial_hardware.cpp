#include "serial_hardware.hpp"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <fstream>

#include "library_limits.hpp"
#include "number_text.hpp"

namespace sim {

double characterTimeUs(int baud, int bitsPerCharacter) {
    return 1e6 * bitsPerCharacter / std::max(baud, 1);
}

double longestHandOverGapUs(const ByteHandOver& handOver, int baud, int bitsPerCharacter) {
    const double character = characterTimeUs(baud, bitsPerCharacter);
    switch (handOver.kind) {
        case ByteHandOver::Kind::immediate:
            return character;
        case ByteHandOver::Kind::uart:
            // Full FIFOs every trigger-level characters; the rest of a frame
            // (up to trigger - 1 bytes) after the 4 quiet character times.
            if (handOver.parameter <= 1) return character;
            return character * (handOver.parameter - 1 + kUartQuietCharacters);
        case ByteHandOver::Kind::usbAdapter:
            // Full packets come faster than the timer only at high rates; the
            // rest of a frame waits for the timer.
            return std::max(1000.0 * handOver.parameter, character);
    }
    return character;
}

double rtuSilentIntervalUs(int baud) {
    const double interval = std::floor(0.5 + library::kRtuSilenceCharacters *
                                                 characterTimeUs(baud, library::kRtuSilenceBitsPerCharacter));
    return std::max(interval, library::kRtuMinSilenceUs);
}

std::optional<std::uint32_t> toleranceForHandOver(const ByteHandOver& handOver, int baud, int bitsPerCharacter) {
    const double excess = longestHandOverGapUs(handOver, baud, bitsPerCharacter) - rtuSilentIntervalUs(baud);
    const auto tolerance = static_cast<std::uint32_t>(std::max(0.0, std::ceil(excess / 1000.0)));
    if (tolerance > library::kMaxFrameToleranceMs) return std::nullopt;
    return tolerance;
}

std::string ttyName(const std::string& device) {
    const bool com = device.size() > 3 && (device[0] == 'C' || device[0] == 'c') &&
                     (device[1] == 'O' || device[1] == 'o') && (device[2] == 'M' || device[2] == 'm');
    if (com) {
        const std::string digits = device.substr(3, device.find(':') == std::string::npos ? std::string::npos
                                                                                            : device.find(':') - 3);
        const bool decimal =
            !digits.empty() && std::all_of(digits.begin(), digits.end(), [](char c) { return std::isdigit(c) != 0; });
        if (const auto number = decimal ? parseWholeNumber(digits) : std::nullopt) {
            return "ttyS" + std::to_string(*number - 1);
        }
    }
#ifdef _WIN32
    const std::string& path = device;  // no links to follow to a tty name
#else
    char resolved[PATH_MAX];
    const std::string path = realpath(device.c_str(), resolved) != nullptr ? resolved : device;
#endif
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

namespace {

// The positive number a sysfs attribute holds ("16\n").
std::optional<int> readNumber(const std::string& path) {
    std::ifstream file(path);
    std::string word;
    if (!(file >> word)) return std::nullopt;
    const auto value = parseNumberIn(word, 1, INT_MAX);
    if (!value) return std::nullopt;
    return static_cast<int>(*value);
}

}  // namespace

ByteHandOver probeHandOver(const std::string& device, const std::string& sysRoot) {
    const std::string tty = ttyName(device);
    if (const auto latency = readNumber(sysRoot + "/bus/usb-serial/devices/" + tty + "/latency_timer")) {
        return {ByteHandOver::Kind::usbAdapter, *latency};
    }
    if (const auto trigger = readNumber(sysRoot + "/class/tty/" + tty + "/rx_trig_bytes")) {
        return {ByteHandOver::Kind::uart, *trigger};
    }
    return {};
}

std::string describeHandOver(const ByteHandOver& handOver) {
    switch (handOver.kind) {
        case ByteHandOver::Kind::uart:
            return "UART, receive trigger " + std::to_string(handOver.parameter) + " bytes";
        case ByteHandOver::Kind::usbAdapter:
            return "USB adapter, latency timer " + std::to_string(handOver.parameter) + " ms";
        case ByteHandOver::Kind::immediate:
            break;
    }
    return "bytes handed over at once";
}

namespace {

int bitsPerCharacterOf(const SimOptions& options) {
    return 1 + options.dataBits + (options.parity != PARITY_NONE ? 1 : 0) + options.stopBits;
}

}  // namespace

std::string windowsDefaultFrameTolerance(SimOptions& options) {
    const int bitsPerCharacter = bitsPerCharacterOf(options);
    std::optional<std::uint32_t> tolerance = 0;
    for (const ByteHandOver& handOver : {kSerialSysUart, kFtdiAdapter}) {
        const std::optional<std::uint32_t> needed = toleranceForHandOver(handOver, options.baud, bitsPerCharacter);
        tolerance = tolerance && needed ? std::optional<std::uint32_t>(std::max(*tolerance, *needed)) : std::nullopt;
    }
    options.frameToleranceMs = tolerance.value_or(library::kMaxFrameToleranceMs);
    std::string text = "frame tolerance " + std::to_string(*options.frameToleranceMs) + " ms for the " +
                       describeHandOver(kSerialSysUart) + " of serial.sys or the " + describeHandOver(kFtdiAdapter) +
                       " of FTDI's driver (Windows defaults; --tolerance sets another)";
    if (!tolerance) text += " (not enough: long frames will be split)";
    return text;
}

std::string resolveFrameTolerance(SimOptions& options, const std::string& sysRoot) {
    if (options.transport != Transport::Rtu) return "";
    if (options.frameToleranceMs) return "frame tolerance " + std::to_string(*options.frameToleranceMs) + " ms (--tolerance)";
#ifdef _WIN32
    (void)sysRoot;
    return windowsDefaultFrameTolerance(options);
#else
    const ByteHandOver handOver = probeHandOver(options.device, sysRoot);
    if (handOver.kind == ByteHandOver::Kind::immediate) {
        options.frameToleranceMs = 0;
        return "frame tolerance 0 ms (no latency timer or receive trigger in sysfs)";
    }
    const std::optional<std::uint32_t> tolerance =
        toleranceForHandOver(handOver, options.baud, bitsPerCharacterOf(options));
    options.frameToleranceMs = tolerance.value_or(library::kMaxFrameToleranceMs);
    std::string text = "frame tolerance " + std::to_string(*options.frameToleranceMs) + " ms for the " +
                       describeHandOver(handOver);
    if (!tolerance) text += " (not enough: long frames will be split; lower the latency timer)";
    return text;
#endif
}

}  // namespace sim

#include "serial/ascii_protocol.hpp"

#include "serial/ascii_hex.hpp"

namespace mbslave {

namespace {
constexpr std::uint8_t kColon = ':';
constexpr std::uint8_t kCarriageReturn = '\r';
constexpr std::uint8_t kLineFeed = '\n';
// ":", the digits, CR and LF.
constexpr int kLongestAsciiFrame = 1 + kMaxAsciiDigits + 2;
}  // namespace

AsciiProtocol::AsciiProtocol() noexcept { requestInfo.protocolType = MB_PROTOCOL_ASCII; }

int AsciiProtocol::servePass() {
    int digits = 0;
    const int received = receiveFrame(digits);
    if (received == MB_ERR_IO) return MB_ERR_IO;
    if (received != MB_OK) return MB_OK;  // nothing came, or dropped

    int length = 0;
    if (decodeFrame(digits, length) != MB_OK) return MB_OK;  // dropped
    serveFrame(frame, length);
    return MB_OK;
}

int AsciiProtocol::receiveFrame(int& digits) {
    // Every character gets the whole protocol time-out; a frame whose next
    // character does not come within it is dropped.
    const std::uint32_t timeout = timeOut * 1000;
    // Noise outside a frame and CRs inside one are ignored without end, so
    // the pass is bounded from its first character on.
    const std::uint32_t limit = frameTimeLimit(kLongestAsciiFrame);
    std::uint32_t startedAt = 0;
    bool inFrame = false;
    for (bool first = true;; first = false) {
        std::uint8_t character = 0;
        const int read = port.readByte(&character, timeout);
        if (read == MB_ERR_REPLY_TIMEOUT) return MB_ERR_INVALID_FRAME;
        if (read != MB_OK) return MB_ERR_IO;
        if (first) {
            startedAt = now();
        } else if (frameTimeExceeded(startedAt, limit)) {
            return MB_ERR_INVALID_FRAME;
        }

        if (character == kColon) {  // a new frame, also inside one
            inFrame = true;
            digits = 0;
            ++totalCounter;
        } else if (character == kCarriageReturn) {
            // ignored everywhere
        } else if (character == kLineFeed) {
            if (inFrame) return MB_OK;
        } else if (inFrame) {
            if (hexToNibble(character) < 0) return MB_ERR_INVALID_FRAME;
            if (digits == kMaxAsciiDigits) return MB_ERR_INVALID_FRAME;
            text[digits++] = static_cast<char>(character);
        }
        // Anything else outside a frame is line noise.
    }
}

int AsciiProtocol::decodeFrame(int digits, int& length) noexcept {
    if (digits < kMinAsciiDigits) return MB_ERR_INVALID_FRAME;
    length = digits / 2 - 1;  // an odd last digit is ignored
    const auto* hex = reinterpret_cast<const std::uint8_t*>(text);
    for (int i = 0; i <= length; ++i) {  // the message, then its LRC byte
        frame[i] = static_cast<std::uint8_t>(hexPairToByte(hex[2 * i], hex[2 * i + 1]));
    }
    return lrc(frame, length) == frame[length] ? MB_OK : MB_ERR_INVALID_FRAME;
}

int AsciiProtocol::sendReply(int length) {
    if (length > kMaxFrameLength) return MB_ERR_IO;  // would not fit in text
    int size = 0;
    text[size++] = static_cast<char>(kColon);
    for (int i = 0; i < length; ++i) {
        text[size++] = nibbleToHex(frame[i] >> 4);
        text[size++] = nibbleToHex(frame[i]);
    }
    const std::uint8_t check = lrc(frame, length);
    text[size++] = nibbleToHex(check >> 4);
    text[size++] = nibbleToHex(check);
    text[size++] = static_cast<char>(kCarriageReturn);
    text[size++] = static_cast<char>(kLineFeed);
    return transmitReply(reinterpret_cast<const std::uint8_t*>(text), size);
}

}  // namespace mbslave

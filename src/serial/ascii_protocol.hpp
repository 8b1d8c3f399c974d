// Modbus ASCII slave on a serial line: a frame is a line of text, ":" then
// address, PDU and LRC as pairs of hexadecimal digits, then CR LF; one
// request received and answered per server-loop pass.
#pragma once

#include <cstdint>

#include "engine/slave_protocol.hpp"
#include "serial/serial_protocol.hpp"

namespace mbslave {

// Digits one frame may carry: 2 x 255 message bytes, 2 LRC digits and one
// odd digit that is ignored.
constexpr int kMaxAsciiDigits = 513;
// 255 message bytes and their LRC byte.
constexpr int kAsciiFrameSize = kMaxAsciiDigits / 2;
static_assert(kAsciiFrameSize == kMaxRequestLength + 1, "an ASCII frame decodes to the longest request and its LRC");
// Fewer digits carry no slave address besides the LRC.
constexpr int kMinAsciiDigits = 4;
// ":" + 2 x 254 reply digits + 2 LRC digits + CR LF.
constexpr int kAsciiTextSize = 1 + 2 * kMaxFrameLength + 2 + 2;
static_assert(kAsciiTextSize == kMaxAsciiDigits);

class AsciiProtocol : public SerialProtocol {
public:
    static constexpr ProtocolKinds kKinds = SerialProtocol::kKinds | kind::kAscii;
    AsciiProtocol() noexcept;


protected:
    // Receives one frame and serves it.
    int servePass() override;
    // Sends frame[0..length) as a line of text with its LRC.
    // MB_OK, MB_ERR_SEND_TIMEOUT or MB_ERR_IO.
    int sendReply(int length) override;

    std::uint8_t frame[kAsciiFrameSize] = {};  // decoded message and its LRC byte
    char text[kMaxAsciiDigits] = {};           // received digits, then the reply text

private:
    // Reads characters until a frame has ended with LF: MB_OK with digits
    // the number of its digits stored in text, MB_ERR_INVALID_FRAME when
    // nothing came in time or the frame is dropped, MB_ERR_IO.
    int receiveFrame(int& digits);
    // Decodes the digits into frame: MB_OK with length the message length,
    // MB_ERR_INVALID_FRAME when the frame is too short or its LRC is wrong.
    int decodeFrame(int digits, int& length) noexcept;
};

}  // namespace mbslave

// Placeholder until the function codes land: every request is answered with
// exception 1 (illegal function).
#include "engine/slave_protocol.hpp"

namespace mbslave {

int SlaveProtocol::processRequest(std::uint8_t* frame, int length) {
    (void)length;
    frame[1] = static_cast<std::uint8_t>(frame[1] | 0x80);
    frame[2] = 1;
    return exceptionRepliesDisabled ? 0 : 3;
}

int SlaveProtocol::readDeviceIdentification(std::uint8_t*, int, int) { return 8; }

}  // namespace mbslave

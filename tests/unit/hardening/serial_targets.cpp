#include "serial_targets.hpp"

#include <memory>

#include "engine/rtu_frame_bytes.hpp"
#include "serial/ascii_hex.hpp"
#include "serial/ascii_protocol.hpp"
#include "serial/rtu_protocol.hpp"
#include "support/frames.hpp"
#include "support/wide_literal.hpp"

namespace mbslave::test {

SerialTarget::SerialTarget(std::unique_ptr<SerialProtocol> serialProtocol)
    : protocol(std::move(serialProtocol)) {
    protocol->attachSerialDevice(&device);
    for (int address = 1; address < 256; ++address) protocol->setDataTable(address, &table);
    protocol->startupSerialServer(wide(u"COM1"), 19200, 8, 1, PARITY_NONE);
}

std::string SerialTarget::runPass(const std::string& text) {
    device.clearScript();
    device.add(reinterpret_cast<const std::uint8_t*>(text.data()), static_cast<int>(text.size()));
    device.add(ScriptedSerialDevice::kSilence);
    device.clearWritten();
    protocol->serverLoop();
    return std::string(reinterpret_cast<const char*>(device.written()),
                       static_cast<std::size_t>(device.writtenCount()));
}

namespace {

class RtuTarget : public SerialTarget {
public:
    RtuTarget() : SerialTarget(std::make_unique<RtuProtocol>()) {}

    std::optional<Bytes> exchange(const Bytes& request) override {
        const Bytes frame = withCrc(request);
        const std::string written = runPass(std::string(frame.begin(), frame.end()));
        if (written.size() < 4 ||
            !hasValidCrc16(reinterpret_cast<const std::uint8_t*>(written.data()), static_cast<int>(written.size()))) {
            return std::nullopt;
        }
        return Bytes(written.begin(), written.end() - 2);
    }

    // Frames of fewer than 4 bytes are dropped; a frame longer than its
    // function code's expected length is ended there, and its CRC fails.
    bool framingDrops(const Bytes& request) const override {
        const std::size_t frameLength = request.size() + 2;
        if (frameLength < 4) return true;
        std::size_t expected = 0;
        switch (request[1]) {
            case 1: case 2: case 3: case 4: case 5: case 6: expected = 8; break;
            case 7: expected = 6; break;
            case 15: case 16: expected = request.size() > 6 ? request[6] + 9u : 0; break;
            case 22: expected = 10; break;
            case 23: expected = request.size() > 10 ? request[10] + 13u : 0; break;
            default: break;
        }
        return expected != 0 && frameLength > expected;
    }
};

}  // namespace

AsciiTarget::AsciiTarget() : SerialTarget(std::make_unique<AsciiProtocol>()) {}

std::string AsciiTarget::frameText(const Bytes& message) { return asciiFrame(message); }

std::optional<Bytes> AsciiTarget::exchange(const Bytes& request) { return exchangeText(frameText(request)); }

std::optional<Bytes> AsciiTarget::exchangeText(const std::string& text) {
    const std::string written = runPass(text);
    if (written.size() < 7 || written.front() != ':' || written.compare(written.size() - 2, 2, "\r\n") != 0 ||
        written.size() % 2 != 1) {
        return std::nullopt;
    }
    Bytes message;
    for (std::size_t i = 1; i + 2 < written.size(); i += 2) {
        const int byte = hexPairToByte(static_cast<std::uint8_t>(written[i]), static_cast<std::uint8_t>(written[i + 1]));
        if (byte < 0) return std::nullopt;
        message.push_back(static_cast<std::uint8_t>(byte));
    }
    const std::uint8_t check = message.back();
    message.pop_back();
    if (lrc(message.data(), static_cast<int>(message.size())) != check) return std::nullopt;
    return message;
}

std::unique_ptr<AttackTarget> makeRtuTarget() { return std::make_unique<RtuTarget>(); }
std::unique_ptr<AttackTarget> makeAsciiTarget() { return std::make_unique<AsciiTarget>(); }

}  // namespace mbslave::test

// RTU and ASCII slaves on a scripted serial line: the fuzz input is the
// line, with silences (reads that end by time-out) and read failures
// where it says so, and the server runs passes until the line has been
// played back. Everything written must be a well-framed reply and the
// counters consistent.
//
// Input: flags (bit 0: exception replies disabled), then the line; byte
// 0xFE escapes: 0xFE 0xFE is the byte 0xFE, 0xFE 0x01 a read failure, 0xFE
// followed by anything else a silence (the other byte is consumed).
#include <memory>

#include "engine/rtu_frame_bytes.hpp"
#include "fuzz_entries.hpp"
#include "serial/ascii_hex.hpp"
#include "serial/ascii_protocol.hpp"
#include "serial/rtu_protocol.hpp"
#include "support/permissive_table.hpp"
#include "support/scripted_serial_device.hpp"

namespace mbslave::fuzz {

namespace {

constexpr std::uint8_t kEscape = 0xFE;
constexpr int kServedAddresses = 200;  // addresses above have no table
constexpr std::uint32_t kFixedTick = 1000;

std::uint32_t fixedTick() noexcept { return kFixedTick; }

using ReplyCheck = const char* (*)(const std::uint8_t* bytes, int length);

// Each pass sends at most one reply, so what one pass wrote is one frame.
const char* checkRtuReply(const std::uint8_t* bytes, int length) {
    if (length == 0) return nullptr;
    if (length < 5 || length > kMaxFrameLength + 2) return "RTU reply length out of range";
    if (!hasValidCrc16(bytes, length)) return "RTU reply with a wrong CRC";
    return nullptr;
}

const char* checkAsciiReply(const std::uint8_t* bytes, int length) {
    if (length == 0) return nullptr;
    if (length < 11 || length > kAsciiTextSize || length % 2 != 1) return "ASCII reply length out of range";
    if (bytes[0] != ':' || bytes[length - 2] != '\r' || bytes[length - 1] != '\n') return "ASCII reply not framed";
    std::uint8_t sum = 0;
    for (int i = 1; i < length - 2; i += 2) {
        const int byte = hexPairToByte(bytes[i], bytes[i + 1]);
        if (byte < 0) return "ASCII reply with a character that is not a digit";
        sum = static_cast<std::uint8_t>(sum + byte);
    }
    if (sum != 0) return "ASCII reply with a wrong LRC";
    return nullptr;
}

template <typename Protocol>
const char* runLine(const std::uint8_t* data, std::size_t size, ReplyCheck check) {
    if (size < 1) return nullptr;
    auto device = std::make_unique<test::ScriptedSerialDevice>();
    test::PermissiveTable table;
    auto protocol = std::make_unique<Protocol>();
    protocol->setTickSource(&fixedTick);
    protocol->attachSerialDevice(device.get());
    for (int address = 1; address <= kServedAddresses; ++address) protocol->setDataTable(address, &table);
    if ((data[0] & 1) != 0) protocol->disableExceptionReplies();
    if (protocol->startupSerialServer(u"COM1", 19200, 8, 1, PARITY_NONE) != MB_OK) return "start-up failed";

    for (std::size_t at = 1; at < size; ++at) {
        if (data[at] != kEscape || at + 1 == size) {
            device->add(data[at]);
            continue;
        }
        const std::uint8_t escaped = data[++at];
        device->add(escaped == kEscape ? kEscape
                                       : escaped == 1 ? test::ScriptedSerialDevice::kFailure
                                                      : test::ScriptedSerialDevice::kSilence);
    }
    // Every pass reads at least one entry of the script.
    for (int passes = 0; !device->scriptUsedUp(); ++passes) {
        if (passes > test::ScriptedSerialDevice::kScriptCapacity) return "pass that reads nothing";
        device->clearWritten();
        const int result = protocol->serverLoop();
        if (result != MB_OK && result != MB_ERR_IO) return "pass failed";
        if (const char* problem = check(device->written(), device->writtenCount())) return problem;
        if (device->writes() > 1) return "more than one reply in a pass";
        if (protocol->getSuccessCounter() > protocol->getTotalCounter()) return "more requests served than received";
        if (table.bracketBroken) return "data access outside a lock bracket";
    }
    protocol.reset();  // before the device it refers to
    return nullptr;
}

}  // namespace

const char* rtuLineEntry(const std::uint8_t* data, std::size_t size) {
    return runLine<RtuProtocol>(data, size, &checkRtuReply);
}

const char* asciiLineEntry(const std::uint8_t* data, std::size_t size) {
    return runLine<AsciiProtocol>(data, size, &checkAsciiReply);
}

}  // namespace mbslave::fuzz

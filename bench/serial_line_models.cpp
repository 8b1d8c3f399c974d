// Which Modbus requests arrive whole through the receivers of real serial
// hardware: 16550-type UARTs (FIFO trigger 1, 4, 8, 14; the rest of a
// frame after 4 quiet character times) and USB adapters (62-byte packets,
// latency timer 1 and 16 ms), at 9600, 19200 and 115200 baud (8E1 for RTU,
// 7E1 for ASCII). Every request size from 6 to 255 bytes runs through an
// RTU and an ASCII slave on a device that hands the bytes over as that
// receiver does, on a virtual clock. Printed per receiver and rate: the
// requests served at the default frame tolerance, the smallest tolerance
// under which all are served, and the tolerance mbslave-sim derives for it.
// Run: <build dir>/bench/serial_line_models
#include <cstdint>
#include <cstdio>
#include <type_traits>
#include <optional>
#include <string>
#include <vector>

#include "engine/rtu_frame_bytes.hpp"
#include "serial/ascii_hex.hpp"
#include "serial/ascii_protocol.hpp"
#include "serial/rtu_protocol.hpp"
#include "library_limits.hpp"
#include "serial_hardware.hpp"
#include "support/recording_table.hpp"
#include "support/timed_serial_line.hpp"

namespace {

using mbslave::test::LineReceiver;
using mbslave::test::TimedSerialDevice;
using Bytes = std::vector<std::uint8_t>;

struct Request {
    Bytes message;  // address and PDU
    Bytes reply;    // the reply message it must get
};

// Diagnostics echoes end by silence; register writes end at their length.
std::vector<Request> requestsOfEverySize() {
    std::vector<Request> requests;
    for (int data = 0; data <= 249; ++data) {  // RTU frames of 6..255 bytes
        Bytes message{0x01, 0x08, 0x00, 0x00};
        for (int i = 0; i < data; ++i) message.push_back(static_cast<std::uint8_t>(i * 7 + 1));
        requests.push_back({message, message});
    }
    for (int count = 1; count <= 123; ++count) {  // RTU frames of 11..255 bytes
        Bytes message{0x01, 0x10, 0x00, 0x00, 0x00, static_cast<std::uint8_t>(count),
                      static_cast<std::uint8_t>(2 * count)};
        for (int i = 0; i < 2 * count; ++i) message.push_back(static_cast<std::uint8_t>(i));
        requests.push_back({message, Bytes(message.begin(), message.begin() + 6)});
    }
    return requests;
}

Bytes rtuFrame(Bytes message) {
    const int length = static_cast<int>(message.size());
    message.resize(message.size() + 2);
    mbslave::appendCrc16(message.data(), length);
    return message;
}

Bytes asciiFrame(const Bytes& message) {
    Bytes text{':'};
    for (std::uint8_t byte : message) {
        text.push_back(static_cast<std::uint8_t>(mbslave::nibbleToHex(byte >> 4)));
        text.push_back(static_cast<std::uint8_t>(mbslave::nibbleToHex(byte)));
    }
    const std::uint8_t check = mbslave::lrc(message.data(), static_cast<int>(message.size()));
    text.push_back(static_cast<std::uint8_t>(mbslave::nibbleToHex(check >> 4)));
    text.push_back(static_cast<std::uint8_t>(mbslave::nibbleToHex(check)));
    text.push_back('\r');
    text.push_back('\n');
    return text;
}

template <typename Protocol>
int servedWhole(LineReceiver receiver, int baud, int bitsPerCharacter, std::uint32_t toleranceMs, bool rtu,
                const std::vector<Request>& requests) {
    TimedSerialDevice device(receiver, baud, bitsPerCharacter);
    mbslave::test::RecordingTable table;
    Protocol protocol;
    protocol.setTickSource(&mbslave::test::FakeClock::tick);
    protocol.attachSerialDevice(&device);
    protocol.setDataTable(1, &table);
    if constexpr (std::is_same_v<Protocol, mbslave::RtuProtocol>) protocol.setFrameTolerance(toleranceMs);
    if (protocol.startupSerialServer(u"line", baud, rtu ? 8 : 7, 1, PARITY_EVEN) != MB_OK) return -1;
    int whole = 0;
    for (const Request& request : requests) {
        device.writes.clear();
        device.send(rtu ? rtuFrame(request.message) : asciiFrame(request.message));
        for (int pass = 0; pass < 300 && !device.inputUsedUp(); ++pass) protocol.serverLoop();
        const Bytes expected = rtu ? rtuFrame(request.reply) : asciiFrame(request.reply);
        if (device.writes.size() == 1 && device.writes[0] == expected) ++whole;
    }
    return whole;
}

struct Model {
    const char* name;
    LineReceiver receiver;
    sim::ByteHandOver handOver;
};

std::string toleranceText(std::optional<std::uint32_t> tolerance) {
    return tolerance ? std::to_string(*tolerance) + " ms" : std::string("none <= 20");
}

}  // namespace

int main() {
    using Kind = LineReceiver::Kind;
    using HandOver = sim::ByteHandOver::Kind;
    const Model models[] = {
        {"immediate (pty)", {Kind::immediate, 0}, {HandOver::immediate, 0}},
        {"UART trigger 1", {Kind::uart, 1}, {HandOver::uart, 1}},
        {"UART trigger 4", {Kind::uart, 4}, {HandOver::uart, 4}},
        {"UART trigger 8", {Kind::uart, 8}, {HandOver::uart, 8}},
        {"UART trigger 14", {Kind::uart, 14}, {HandOver::uart, 14}},
        {"USB latency 1 ms", {Kind::usbAdapter, 1}, {HandOver::usbAdapter, 1}},
        {"USB latency 16 ms", {Kind::usbAdapter, 16}, {HandOver::usbAdapter, 16}},
    };
    const int bauds[] = {9600, 19200, 115200};
    const std::vector<Request> requests = requestsOfEverySize();
    const int total = static_cast<int>(requests.size());

    std::printf("%d requests per cell (RTU frames of 6..255 bytes: %d ending by silence, %d by length)\n",
                total, 250, 123);
    std::printf("%-18s %7s | %-22s %-20s %-13s | %-16s\n", "receiver", "baud", "RTU whole, default",
                "RTU tolerance: all", "sim derives", "ASCII whole");
    for (const Model& model : models) {
        for (int baud : bauds) {
            const int atDefault =
                servedWhole<mbslave::RtuProtocol>(model.receiver, baud, 11, 0, true, requests);
            std::optional<std::uint32_t> needed;
            for (std::uint32_t tolerance = 0; tolerance <= sim::library::kMaxFrameToleranceMs && !needed; ++tolerance) {
                const int whole = tolerance == 0 ? atDefault
                                                 : servedWhole<mbslave::RtuProtocol>(model.receiver, baud, 11,
                                                                                     tolerance, true, requests);
                if (whole == total) needed = tolerance;
            }
            const int ascii = servedWhole<mbslave::AsciiProtocol>(model.receiver, baud, 10, 0, false, requests);
            const std::string defaultText = std::to_string(atDefault) + "/" + std::to_string(total);
            const std::string asciiText = std::to_string(ascii) + "/" + std::to_string(total);
            std::printf("%-18s %7d | %-22s %-20s %-13s | %-16s\n", model.name, baud, defaultText.c_str(),
                        toleranceText(needed).c_str(),
                        toleranceText(sim::toleranceForHandOver(model.handOver, baud, 11)).c_str(),
                        asciiText.c_str());
        }
    }
    return 0;
}

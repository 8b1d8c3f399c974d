// One request through processRequest, twice, with different bytes beyond
// the request in the frame buffer: both runs must give the same bounded
// reply, and nothing beyond the largest reply may be written.
#include <algorithm>
#include <cstring>
#include <memory>

#include "engine/slave_protocol.hpp"
#include "fuzz_entries.hpp"
#include "fuzzed_data_table.hpp"

namespace mbslave::fuzz {

namespace {

class FuzzProtocol : public SlaveProtocol {
public:
    void shutdownServer() override {}

protected:
    int servePass() override { return MB_OK; }  // replies stay in the frame
};

constexpr std::size_t kFrameBufferSize = 256;  // what every transport passes
constexpr std::size_t kMaxRequest = 255;       // ASCII framing delivers up to 255 bytes
constexpr std::uint8_t kSlave = 1;
constexpr std::uint8_t kMarker = 0x5A;

struct Outcome {
    int length = 0;
    std::uint8_t reply[kFrameBufferSize] = {};
};

const char* runOnce(FuzzProtocol& protocol, FuzzedDataTable& table, const std::uint8_t* request,
                    std::size_t requestLength, const std::uint8_t* answers, std::size_t answerLength,
                    std::uint8_t fill, Outcome& outcome) {
    // Exactly the size the transports pass, so the sanitizer sees any access beyond it.
    std::unique_ptr<std::uint8_t[]> frame(new std::uint8_t[kFrameBufferSize]);
    std::memset(frame.get(), fill, kFrameBufferSize);
    std::memcpy(frame.get(), request, requestLength);
    frame[0] = kSlave;  // the transports only call with an address that has a table
    if (requestLength < kFrameBufferSize - 1) frame[kFrameBufferSize - 2] = frame[kFrameBufferSize - 1] = kMarker;

    table.reset(answers, answerLength);
    const int length = protocol.processRequest(frame.get(), static_cast<int>(requestLength));
    if (table.problem != nullptr) return table.problem;
    if (table.lockDepth != 0) return "bracket left open";
    if (length != 0 && (length < 3 || length > kMaxFrameLength)) return "reply length out of range";
    const bool exception = (frame[1] & 0x80) != 0;
    if (exception && length != (protocol.exceptionRepliesEnabled() ? 3 : 0)) return "exception reply length";
    if (!exception && length == 0) return "normal reply suppressed";
    if (requestLength < kFrameBufferSize - 1 &&
        (frame[kFrameBufferSize - 2] != kMarker || frame[kFrameBufferSize - 1] != kMarker)) {
        return "wrote beyond the largest reply";
    }
    outcome.length = length;
    std::memcpy(outcome.reply, frame.get(), static_cast<std::size_t>(length));
    return nullptr;
}

}  // namespace

const char* processRequestEntry(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return nullptr;
    const bool exceptionsDisabled = (data[0] & 1) != 0;
    const std::size_t requestLength = std::min<std::size_t>({data[1], size - 2, kMaxRequest});
    const std::uint8_t* request = data + 2;
    const std::uint8_t* answers = request + requestLength;
    const std::size_t answerLength = size - 2 - requestLength;

    auto protocol = std::make_unique<FuzzProtocol>();
    FuzzedDataTable table;
    protocol->setDataTable(kSlave, &table);
    if (exceptionsDisabled) protocol->disableExceptionReplies();

    Outcome first;
    Outcome second;
    if (const char* problem = runOnce(*protocol, table, request, requestLength, answers, answerLength, 0x00, first)) {
        return problem;
    }
    if (const char* problem = runOnce(*protocol, table, request, requestLength, answers, answerLength, 0xFF, second)) {
        return problem;
    }
    if (first.length != second.length || std::memcmp(first.reply, second.reply, static_cast<std::size_t>(first.length)) != 0) {
        return "reply depends on bytes beyond the request";
    }
    return nullptr;
}

}  // namespace mbslave::fuzz

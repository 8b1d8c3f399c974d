// The most recent requests as fixed-size records, for the web page's live
// request log. Recording copies into a preallocated ring and never
// allocates, so the Modbus thread can feed it on every request; readers ask
// for what follows the last sequence number they saw.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace sim {

// Copies text into a fixed field, cut to fit, always zero-terminated.
template <std::size_t N>
void copyText(char (&field)[N], std::string_view text) {
    const std::size_t length = text.size() < N - 1 ? text.size() : N - 1;
    text.copy(field, length);
    field[length] = '\0';
}

// Appends ", text" (or text to an empty field), cut to fit.
template <std::size_t N>
void appendText(char (&field)[N], std::string_view text) {
    std::size_t used = std::string_view(field).size();
    if (used > 0 && used + 2 < N) {
        field[used++] = ',';
        field[used++] = ' ';
    }
    const std::size_t length = text.size() < N - 1 - used ? text.size() : N - 1 - used;
    text.copy(field + used, length);
    field[used + length] = '\0';
}

enum class TrafficResult : std::uint8_t { Ok, Refused, NoReply, Broadcast, Answered };

// "ok", "refused", "no reply", "broadcast", "answered".
const char* resultName(TrafficResult result);

struct TrafficRecord {
    std::uint64_t sequence = 0;  // 1, 2, ... in the order of the requests
    std::int64_t timeMs = 0;     // wall-clock time, ms since 1970
    char master[48] = {};        // IP address or serial device
    char role[64] = {};          // tls: "role monitor" or "no role"; empty on the other transports
    int unit = 0;                // the request's slave address
    char units[32] = {};         // the units a broadcast reached ("1-3")
    char function[64] = {};      // "read holding registers", "write coils, read coils"
    char range[64] = {};         // "0-9", "1 records 8-9"
    TrafficResult result = TrafficResult::Ok;
    int exceptionCode = 0;  // with Refused: the code the master got (0: no reply was sent)
};

class TrafficRing {
public:
    static constexpr std::size_t kCapacity = 512;

    // Stores the record under the next sequence number.
    void push(const TrafficRecord& record) {
        TrafficRecord& slot = records_[next_ % kCapacity];
        slot = record;
        slot.sequence = ++next_;
    }

    // Sequence number of the newest record (0: none yet).
    std::uint64_t newest() const { return next_; }

    // Calls visit(record) for the records after sequence number `after`
    // still held, oldest first; returns the newest sequence number.
    template <typename Visit>
    std::uint64_t forEachAfter(std::uint64_t after, Visit visit) const {
        const std::uint64_t oldest = next_ > kCapacity ? next_ - kCapacity : 0;
        for (std::uint64_t sequence = after > oldest ? after : oldest; sequence < next_; ++sequence) {
            visit(records_[sequence % kCapacity]);
        }
        return next_;
    }

private:
    std::array<TrafficRecord, kCapacity> records_{};
    std::uint64_t next_ = 0;
};

}  // namespace sim

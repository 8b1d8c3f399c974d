// Collects what the data callbacks do while the library serves one request
// and turns it into one log line when the request is finished: who asked,
// which unit, which data, and the outcome.
//
//   127.0.0.1 unit 1: read holding registers 0-9: ok
//   /dev/pts/3 unit 2: read file 9 records 0-1: refused, exception 2
//   /dev/pts/3 broadcast to units 1-3: write holding registers 5: no reply (broadcast)
//   127.0.0.1 unit 1 (role monitor): function 6 not allowed by --roles: refused, exception 1
//
// Addresses are wire addresses (0-based), as the master puts them on the wire.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mbslave.h"
#include "traffic_ring.hpp"

namespace sim {

class RequestTrace {
public:
    explicit RequestTrace(bool exceptionRepliesDisabled) : exceptionsDisabled_(exceptionRepliesDisabled) {}

    // A data access on the given unit's data ("read coils", "0-7");
    // exceptionCode is what the master gets if the access was refused.
    void access(const RequestInfo& info, int unit, std::string_view function, std::string_view range, bool ok,
                int exceptionCode = 2);
    // One fetched device identification object (found or not).
    void deviceIdObject(const RequestInfo& info, int unit, int objectId, bool found);
    // A TLS master's request admitted or refused for its role (null: none);
    // the role appears in the request's line from then on.
    void authorization(const RequestInfo& info, const char* role, int functionCode, bool allowed);

    bool pending() const { return started_; }

    // The line for the finished request (peer names the master when no
    // access recorded it); resets for the next request. A request served
    // without any data access gets a line of its own. With a record, also
    // fills it with the same facts, field by field (no sequence number).
    std::string finish(const std::string& peer, TrafficRecord* record = nullptr);

    // Requests finished per slave address (index 0 on a serial line: broadcasts).
    const std::array<std::uint32_t, 256>& finishedPerUnit() const { return perUnit_; }

private:
    void begin(const RequestInfo& info, int unit);

    bool exceptionsDisabled_;
    bool started_ = false;
    std::string peer_;
    std::string role_;  // "role monitor", "no role"; empty: not a TLS request
    int requestUnit_ = 0;
    std::bitset<256> units_;
    std::vector<std::string> accesses_;
    TrafficRecord record_;  // functions and ranges of the accesses so far
    bool refused_ = false;
    int exceptionCode_ = 0;
    bool deviceIdRequest_ = false;
    std::bitset<256> deviceIdFound_;
    std::array<std::uint32_t, 256> perUnit_{};
};

// "0-9" (or "0" for one) for the given 1-based start reference and count.
std::string describeRange(int startRef, int count);

}  // namespace sim

// A server of one kind, seen from its master: requests go out in the kind's
// framing, the server runs its passes, and the reply comes back without
// framing. The hostile-request cases run unchanged against every kind.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "support/modbus_requests.hpp"
#include "support/permissive_table.hpp"

namespace mbslave::test {

class AttackTarget {
public:
    virtual ~AttackTarget() = default;

    // Sends one request (slave address and PDU) and runs the server until it
    // answered or dropped it: the reply (slave address and PDU), or nothing
    // when no reply came (a closed connection included).
    virtual std::optional<Bytes> exchange(const Bytes& request) = 0;
    // True when the transport's framing drops this request before request
    // processing sees it (too short a frame, or one cut off by its expected
    // length so that its check fails).
    virtual bool framingDrops(const Bytes&) const { return false; }
    virtual std::uint32_t totalCounter() = 0;
    virtual std::uint32_t successCounter() = 0;

    // The table installed for every slave address.
    PermissiveTable table;
};

struct TargetKind {
    std::string name;
    std::function<std::unique_ptr<AttackTarget>()> make;
};

inline void PrintTo(const TargetKind& kind, std::ostream* out) { *out << kind.name; }

// The kinds the hostile-request table runs through: those of libmbslave in
// test_hardening (target_kinds.cpp), Modbus/TCP Security in
// test_tls_core (tests/tls/tls_attack_target.cpp).
std::vector<TargetKind> hostileTargetKinds();

std::unique_ptr<AttackTarget> makeTcpTarget();
std::unique_ptr<AttackTarget> makeRtuOverTcpTarget();
std::unique_ptr<AttackTarget> makeUdpTarget();

}  // namespace mbslave::test

// The transports of libmbslave that the hostile-request table runs through.
#include "attack_target.hpp"
#include "serial_targets.hpp"

namespace mbslave::test {

std::vector<TargetKind> hostileTargetKinds() {
    return {TargetKind{"tcp", &makeTcpTarget}, TargetKind{"rtu_over_tcp", &makeRtuOverTcpTarget},
            TargetKind{"udp", &makeUdpTarget}, TargetKind{"rtu", &makeRtuTarget},
            TargetKind{"ascii", &makeAsciiTarget}};
}

}  // namespace mbslave::test

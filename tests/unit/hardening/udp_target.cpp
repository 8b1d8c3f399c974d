// UDP seen from its master: one MBAP-framed datagram per request.
#include "api/protocol_handle.hpp"
#include "attack_target.hpp"
#include "ip/udp_protocol.hpp"
#include "support/loopback_datagram.hpp"
#include "support/mbap.hpp"

namespace mbslave::test {
namespace {

class UdpTarget : public AttackTarget {
public:
    UdpTarget() : handle(mbusSlave_createUdpProtocol()) {
        mbusSlave_setTimeout(handle, 20);
        protocolOf(handle)->setDataTable(-1, &table);
        mbusSlave_setPort(handle, 0);
        if (mbusSlave_startupIpServer(handle, "127.0.0.1") == MB_OK) {
            port = protocolAs<UdpProtocol>(handle)->boundPort();
        }
    }
    ~UdpTarget() override { mbusSlave_destroyProtocol(handle); }

    std::optional<Bytes> exchange(const Bytes& request) override {
        const std::uint16_t transactionId = ++lastTransaction;
        if (port == 0 || !master.sendTo(port, mbapFrame(transactionId, request))) return std::nullopt;
        mbusSlave_serverLoop(handle);
        std::optional<Bytes> reply = master.receive();
        if (!reply || reply->size() < 7) return std::nullopt;
        const Bytes& datagram = *reply;
        const std::size_t length = static_cast<std::size_t>((datagram[4] << 8) | datagram[5]);
        if (((datagram[0] << 8) | datagram[1]) != transactionId || datagram[2] != 0 || datagram[3] != 0 ||
            length + 6 != datagram.size()) {
            return std::nullopt;
        }
        return Bytes(datagram.begin() + 6, datagram.end());
    }
    std::uint32_t totalCounter() override { return mbusSlave_getTotalCounter(handle); }
    std::uint32_t successCounter() override { return mbusSlave_getSuccessCounter(handle); }

private:
    MbusSlaveHandle* handle;
    std::uint16_t port = 0;
    LoopbackDatagram master;
    std::uint16_t lastTransaction = 0;
};

}  // namespace

std::unique_ptr<AttackTarget> makeUdpTarget() { return std::make_unique<UdpTarget>(); }

}  // namespace mbslave::test

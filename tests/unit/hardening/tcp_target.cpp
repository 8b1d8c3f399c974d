// Modbus/TCP seen from its master: MBAP framing over a loopback connection,
// reconnecting after the server closed one.
#include "api/protocol_handle.hpp"
#include "attack_target.hpp"
#include "ip/tcp_protocol.hpp"
#include "support/loopback_client.hpp"
#include "support/mbap.hpp"

namespace mbslave::test {
namespace {

class TcpTarget : public AttackTarget {
public:
    TcpTarget() : handle(mbusSlave_createTcpProtocol()) {
        mbusSlave_setTimeout(handle, 20);
        protocolOf(handle)->setDataTable(-1, &table);
        mbusSlave_setPort(handle, 0);
        if (mbusSlave_startupIpServer(handle, "127.0.0.1") == MB_OK) {
            port = protocolAs<TcpProtocol>(handle)->boundPort();
        }
    }
    ~TcpTarget() override { mbusSlave_destroyProtocol(handle); }

    std::optional<Bytes> exchange(const Bytes& request) override {
        if (!master.isOpen() && !connect()) return std::nullopt;
        const std::uint16_t transactionId = ++lastTransaction;
        if (!master.send(mbapFrame(transactionId, request))) return std::nullopt;
        mbusSlave_serverLoop(handle);
        std::optional<Bytes> reply = readMbapReply(master, transactionId);
        if (!reply) master.close();
        return reply;
    }
    std::uint32_t totalCounter() override { return mbusSlave_getTotalCounter(handle); }
    std::uint32_t successCounter() override { return mbusSlave_getSuccessCounter(handle); }

private:
    bool connect() {
        if (port == 0 || !master.connect(port)) return false;
        const int before = protocolAs<TcpProtocol>(handle)->connectionCount();
        mbusSlave_serverLoop(handle);
        return protocolAs<TcpProtocol>(handle)->connectionCount() == before + 1;
    }

    MbusSlaveHandle* handle;
    std::uint16_t port = 0;
    LoopbackClient master;
    std::uint16_t lastTransaction = 0;
};

}  // namespace

std::unique_ptr<AttackTarget> makeTcpTarget() { return std::make_unique<TcpTarget>(); }

}  // namespace mbslave::test

// Modbus/TCP and RTU over TCP seen from their master: MBAP or RTU framing
// over a loopback connection, reconnecting after the server closed one.
#include "api/protocol_handle.hpp"
#include "attack_target.hpp"
#include "engine/crc16.hpp"
#include "ip/tcp_protocol.hpp"
#include "support/loopback_client.hpp"
#include "support/mbap.hpp"

namespace mbslave::test {
namespace {

class TcpTarget : public AttackTarget {
public:
    explicit TcpTarget(MbusSlaveHandle* created) : handle(created) {
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
        std::optional<Bytes> reply = framedExchange(request);
        if (!reply) master.close();
        return reply;
    }
    std::uint32_t totalCounter() override { return mbusSlave_getTotalCounter(handle); }
    std::uint32_t successCounter() override { return mbusSlave_getSuccessCounter(handle); }

protected:
    virtual std::optional<Bytes> framedExchange(const Bytes& request) {
        const std::uint16_t transactionId = ++lastTransaction;
        if (!master.send(mbapFrame(transactionId, request))) return std::nullopt;
        mbusSlave_serverLoop(handle);
        return readMbapReply(master, transactionId);
    }

    LoopbackClient master;
    MbusSlaveHandle* handle;

private:
    bool connect() {
        if (port == 0 || !master.connect(port)) return false;
        const int before = protocolAs<TcpProtocol>(handle)->connectionCount();
        mbusSlave_serverLoop(handle);
        return protocolAs<TcpProtocol>(handle)->connectionCount() == before + 1;
    }

    std::uint16_t port = 0;
    std::uint16_t lastTransaction = 0;
};

class RtuOverTcpTarget : public TcpTarget {
public:
    RtuOverTcpTarget() : TcpTarget(mbusSlave_createRtuOverTcpProtocol()) {}

protected:
    std::optional<Bytes> framedExchange(const Bytes& request) override {
        Bytes frame = request;
        frame.resize(request.size() + 2);
        appendCrc16(frame.data(), static_cast<int>(request.size()));
        if (!master.send(frame)) return std::nullopt;
        mbusSlave_serverLoop(handle);
        Bytes reply = master.receiveAvailable();
        if (reply.size() < 4 || !hasValidCrc16(reply.data(), static_cast<int>(reply.size()))) return std::nullopt;
        reply.resize(reply.size() - 2);
        return reply;
    }

    // A frame of fewer than 4 bytes closes the connection.
    bool framingDrops(const Bytes& request) const override { return request.size() + 2 < 4; }
};

}  // namespace

std::unique_ptr<AttackTarget> makeTcpTarget() { return std::make_unique<TcpTarget>(mbusSlave_createTcpProtocol()); }
std::unique_ptr<AttackTarget> makeRtuOverTcpTarget() { return std::make_unique<RtuOverTcpTarget>(); }

}  // namespace mbslave::test

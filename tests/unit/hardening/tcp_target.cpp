// Modbus/TCP and RTU over TCP seen from their master: MBAP or RTU framing
// over a loopback connection, reconnecting after the server closed one.
#include "api/protocol_handle.hpp"
#include "attack_target.hpp"
#include "engine/rtu_frame_bytes.hpp"
#include "ip/tcp_protocol.hpp"
#include "support/frames.hpp"
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
        const Bytes frame = withCrc(request);
        if (!master.send(frame)) return std::nullopt;
        // A frame that is not whole yet is closed once the protocol time-out
        // has passed: passes run until a reply or the close arrives.
        for (int pass = 0; pass < 10 && master.isQuiet(2); ++pass) mbusSlave_serverLoop(handle);
        Bytes reply = master.receiveAvailable(0);
        if (reply.size() < 4 || !hasValidCrc16(reply.data(), static_cast<int>(reply.size()))) return std::nullopt;
        reply.resize(reply.size() - 2);
        return reply;
    }

    // A frame is dropped when it is shorter than 4 bytes, or when the length
    // its function code and byte count tell differs from its size: shorter,
    // its CRC fails where that length ends; longer, it never becomes whole.
    bool framingDrops(const Bytes& request) const override {
        const Bytes frame = withCrc(request);
        const long size = static_cast<long>(frame.size());
        if (size < 4) return true;
        constexpr long kNotYetTold = 1 << 20;
        const auto counted = [&](long index, long extra) { return index < size ? frame[index] + extra : kNotYetTold; };
        long told = 0;  // 0: the frame does not tell its length
        switch (frame[1]) {
            case 1: case 2: case 3: case 4: case 5: case 6: told = 8; break;
            case 7: case 11: case 12: case 17: told = 4; break;
            case 15: case 16: told = counted(6, 9); break;
            case 20: case 21: told = counted(2, 5); break;
            case 22: told = 10; break;
            case 23: told = counted(10, 13); break;
            case 24: told = 6; break;
            case 43: told = frame[2] == 14 ? 7 : 0; break;
            default: break;
        }
        return told != 0 && told != size;
    }
};

}  // namespace

std::unique_ptr<AttackTarget> makeTcpTarget() { return std::make_unique<TcpTarget>(mbusSlave_createTcpProtocol()); }
std::unique_ptr<AttackTarget> makeRtuOverTcpTarget() { return std::make_unique<RtuOverTcpTarget>(); }

}  // namespace mbslave::test

// Modbus/TCP Security seen from its master, for the hostile-request table:
// MBAP inside TLS with the "operator" certificate of the test PKI
// (MBSLAVE_TEST_PKI), reconnecting after the server closed a connection.
#include <cstdlib>
#include <string>

#include "api/protocol_handle.hpp"
#include "ip/tcp_protocol.hpp"
#include "mbslave_tls.h"
#include "support/mbap.hpp"
#include "tls/tls_master.hpp"
#include "unit/hardening/attack_target.hpp"

namespace mbslave::test {
namespace {

std::string pkiDir() {
    const char* dir = std::getenv("MBSLAVE_TEST_PKI");
    return dir != nullptr ? dir : "";
}

class TlsTarget : public AttackTarget {
public:
    TlsTarget() : handle(mbusSlave_createTlsProtocol()) {
        const std::string pki = pkiDir();
        mbusSlave_setTimeout(handle, 20);
        protocolOf(handle)->setDataTable(-1, &table);
        mbusSlave_setPort(handle, 0);
        if (mbusSlave_setTlsCertificate(handle, (pki + "/server.pem").c_str(), (pki + "/server.key").c_str()) ==
                MB_OK &&
            mbusSlave_setTlsCaFile(handle, (pki + "/ca.pem").c_str()) == MB_OK &&
            mbusSlave_startupIpServer(handle, "127.0.0.1") == MB_OK) {
            port = protocolAs<TcpProtocol>(handle)->boundPort();
        }
    }
    ~TlsTarget() override {
        master.reset();
        mbusSlave_destroyProtocol(handle);
    }

    std::optional<Bytes> exchange(const Bytes& request) override {
        if (!master && !connect()) return std::nullopt;
        std::optional<Bytes> reply = framedExchange(request);
        if (!reply) master.reset();
        return reply;
    }
    std::uint32_t totalCounter() override { return mbusSlave_getTotalCounter(handle); }
    std::uint32_t successCounter() override { return mbusSlave_getSuccessCounter(handle); }

private:
    std::function<void()> pass() {
        return [this] { mbusSlave_serverLoop(handle); };
    }

    bool connect() {
        if (port == 0) return false;
        master = std::make_unique<TlsMaster>(pkiDir(), "operator");
        if (master->connect(port) && master->handshake(pass())) return true;
        master.reset();
        return false;
    }

    std::optional<Bytes> framedExchange(const Bytes& request) {
        const std::uint16_t transactionId = ++lastTransaction;
        if (!master->write(mbapFrame(transactionId, request))) return std::nullopt;
        const Bytes header = master->read(6, pass());
        if (header.size() != 6 || ((header[0] << 8) | header[1]) != transactionId || header[2] != 0 ||
            header[3] != 0) {
            return std::nullopt;
        }
        const std::size_t length = static_cast<std::size_t>((header[4] << 8) | header[5]);
        Bytes body = master->read(length, pass());
        if (length == 0 || body.size() != length) return std::nullopt;
        return body;
    }

    MbusSlaveHandle* handle;
    std::unique_ptr<TlsMaster> master;
    std::uint16_t port = 0;
    std::uint16_t lastTransaction = 0;
};

}  // namespace

std::vector<TargetKind> hostileTargetKinds() {
    return {TargetKind{"tls", [] { return std::unique_ptr<AttackTarget>(std::make_unique<TlsTarget>()); }}};
}

}  // namespace mbslave::test

// The handshake time-out on a fake clock: a handshake that does not finish
// is closed once the connection time-out has passed, or after 10 s with
// connection time-out 0, and not a millisecond before.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "api/protocol_handle.hpp"
#include "ip/tcp_protocol.hpp"
#include "mbslave_tls.h"
#include "support/fake_clock.hpp"
#include "support/handle_ptr.hpp"
#include "support/loopback_client.hpp"

namespace mbslave::test {
namespace {

TEST(TlsHandshakeTimeOut, IsTheConnectionTimeOutOrTenSecondsWithoutOne) {
    const char* pkiDir = std::getenv("MBSLAVE_TEST_PKI");
    ASSERT_NE(pkiDir, nullptr) << "MBSLAVE_TEST_PKI names the test PKI";
    const std::string pki = pkiDir;
    struct Row {
        std::uint32_t connectionTimeOut;
        std::uint32_t handshakeTimeOut;
    };
    // Above 10 s only the handshake time-out can tell the two apart from
    // the default; below, the idle time-out ends the connection as well.
    const Row rows[] = {{0, 10000}, {2500, 2500}, {20000, 20000}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.connectionTimeOut);
        FakeClock::set(5000);
        HandlePtr handle(mbusSlave_createTlsProtocol());
        ASSERT_NE(handle, nullptr);
        protocolOf(handle.get())->setTickSource(&FakeClock::tick);
        ASSERT_EQ(mbusSlave_setTlsCertificate(handle.get(), (pki + "/server.pem").c_str(),
                                              (pki + "/server.key").c_str()), MB_OK);
        ASSERT_EQ(mbusSlave_setTlsCaFile(handle.get(), (pki + "/ca.pem").c_str()), MB_OK);
        ASSERT_EQ(mbusSlave_setConnectionTimeOut(handle.get(), row.connectionTimeOut), MB_OK);
        ASSERT_EQ(mbusSlave_setTimeout(handle.get(), 10), MB_OK);
        ASSERT_EQ(mbusSlave_setPort(handle.get(), 0), MB_OK);
        ASSERT_EQ(mbusSlave_startupIpServer(handle.get(), "127.0.0.1"), MB_OK);
        TcpProtocol* server = protocolAs<TcpProtocol>(handle.get());

        // The start of a ClientHello record, and no more.
        LoopbackClient master;
        ASSERT_TRUE(master.connect(server->boundPort()));
        ASSERT_TRUE(master.send({0x16, 0x03, 0x01, 0x01}));
        for (int attempt = 0; attempt < 20 && server->connectionCount() == 0; ++attempt) {
            mbusSlave_serverLoop(handle.get());
        }
        ASSERT_EQ(server->connectionCount(), 1);

        FakeClock::advance(row.handshakeTimeOut - 1);
        mbusSlave_serverLoop(handle.get());
        mbusSlave_serverLoop(handle.get());
        EXPECT_EQ(server->connectionCount(), 1);
        FakeClock::advance(1);
        mbusSlave_serverLoop(handle.get());
        EXPECT_EQ(server->connectionCount(), 0);
        EXPECT_TRUE(master.closedByPeer(1000));
    }
}

}  // namespace
}  // namespace mbslave::test

// A Modbus/TCP server on an ephemeral loopback port, driven pass by pass
// from the test thread, with its notifications recorded.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "api/protocol_handle.hpp"
#include "ip/tcp_protocol.hpp"
#include "support/callbacks.hpp"
#include "support/handle_ptr.hpp"
#include "support/ip_server_fixture.hpp"
#include "support/loopback_client.hpp"
#include "support/mbap.hpp"

namespace mbslave::test {

// What the server told the application, in order.
struct Notifications {
    static inline std::vector<std::string> events;
    static inline int acceptResult = 1;

    static void reset() {
        events.clear();
        acceptResult = 1;
    }
    static int onAccept(const char* address) {
        events.push_back(std::string("accept ") + address);
        return acceptResult;
    }
    static void onClose(const char* address) { events.push_back(std::string("close ") + address); }
    static void onRequest(const char* address) {
        events.push_back(std::string("request ") + address);
    }
};

// A function code no server supports: answered with exception 1.
constexpr std::uint8_t kUnsupportedFunction = 0x41;

inline std::vector<std::uint8_t> unsupportedRequest(std::uint16_t transactionId, std::uint8_t unit) {
    return mbapFrame(transactionId, unit, {kUnsupportedFunction});
}

inline std::vector<std::uint8_t> illegalFunctionReply(std::uint16_t transactionId,
                                                      std::uint8_t unit) {
    return mbapFrame(transactionId, unit, {kUnsupportedFunction | 0x80, 0x01});
}

class TcpServerTest : public IpServerTest<TcpProtocol> {
protected:
    void SetUp() override {
        Notifications::reset();
        adopt(createServer());
        mbusSlave_configureTcpNotifications(raw(), &Notifications::onAccept, &Notifications::onClose,
                                            &Notifications::onRequest);
    }

    // The TCP kind under test; RTU over TCP reuses this fixture.
    virtual MbusSlaveHandle* createServer() { return mbusSlave_createTcpProtocol(); }

    // Installs a data table without callbacks for every unit identifier.
    void serveEveryUnit() {
        ASSERT_EQ(test::configureEmptyCallbacks(raw(), -1), MB_OK);
    }

    // A master whose connection the server has accepted.
    LoopbackClient connectMaster() {
        LoopbackClient master;
        EXPECT_TRUE(master.connect(port));
        const int before = server().connectionCount();
        EXPECT_EQ(pass(), MB_OK);
        EXPECT_EQ(server().connectionCount(), before + 1);
        return master;
    }

    // Sends `request` once per pass from a master with the smallest receive
    // window that never reads, to a server connection with the smallest send
    // buffer, until the replies fill both and a send falls short: the server
    // closes the connection after the bookkeeping of that request.
    void expectCloseAfterAReplyFallsShort(const std::vector<std::uint8_t>& request) {
        const int sent = sendUntilAReplyFallsShort(request);
        ASSERT_EQ(server().connectionCount(), 0) << "no send fell short in " << sent << " requests";
        // Every request read was served, the one whose reply fell short included.
        EXPECT_GE(mbusSlave_getTotalCounter(raw()), 1u);
        EXPECT_EQ(mbusSlave_getSuccessCounter(raw()), mbusSlave_getTotalCounter(raw()));
        const std::vector<std::string>& events = Notifications::events;
        ASSERT_GE(events.size(), 3u);
        EXPECT_EQ(events[events.size() - 1], "close 127.0.0.1");
        EXPECT_EQ(events[events.size() - 2], "request 127.0.0.1");
    }

    // The requests sent, at most 2000, until the connection was closed.
    int sendUntilAReplyFallsShort(const std::vector<std::uint8_t>& request) {
        const TestSocket fd = openTestSocket(SOCK_STREAM);
        EXPECT_NE(fd, kNoTestSocket);
        constexpr int kSmall = 1;
        setIntOption(fd, SOL_SOCKET, SO_RCVBUF, kSmall);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int sent = 0;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            setTestSocketNonBlocking(fd) && pass() == MB_OK && server().connectionCount() == 1) {
            setIntOption(static_cast<TestSocket>(server().connectionDescriptor(0)), SOL_SOCKET, SO_SNDBUF,
                         kSmall);
            while (server().connectionCount() == 1 && sent < 2000 &&
                   sendBytes(fd, request.data(), request.size()) == static_cast<long>(request.size()) &&
                   pass() == MB_OK) {
                ++sent;
            }
        }
        closeTestSocket(fd);
        return sent;
    }
};

}  // namespace mbslave::test

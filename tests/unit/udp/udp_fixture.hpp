// A UDP server on an ephemeral loopback port, driven pass by pass from the
// test thread, and a master's datagram socket with bounded waits.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "api/protocol_handle.hpp"
#include "ip/udp_protocol.hpp"
#include "support/callbacks.hpp"
#include "support/test_sockets.hpp"
#include "unit/tcp/tcp_server_fixture.hpp"

namespace mbslave::test {

class DatagramMaster {
public:
    DatagramMaster() = default;
    DatagramMaster(const DatagramMaster&) = delete;
    DatagramMaster& operator=(const DatagramMaster&) = delete;
    ~DatagramMaster() {
        if (fd_ != kNoTestSocket) closeTestSocket(fd_);
    }

    // Binds to source (any 127.x.y.z) on an ephemeral port.
    bool open(const char* source = "127.0.0.1") {
        fd_ = openTestSocket(SOCK_DGRAM);
        if (fd_ == kNoTestSocket) return false;
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, source, &local.sin_addr);
        return ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
    }

    std::uint16_t localPort() const {
        sockaddr_in local{};
        socklen_t length = sizeof local;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length);
        return ntohs(local.sin_port);
    }

    bool sendTo(std::uint16_t port, const std::vector<std::uint8_t>& bytes) {
        sockaddr_in server{};
        server.sin_family = AF_INET;
        server.sin_port = htons(port);
        server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return ::sendto(fd_, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 0,
                        reinterpret_cast<sockaddr*>(&server), sizeof server) == static_cast<int>(bytes.size());
    }

    // Connects to host:port: from then on only datagrams from there arrive,
    // as for a master on a connected socket.
    bool connectTo(const char* host, std::uint16_t port) {
        sockaddr_in server{};
        server.sin_family = AF_INET;
        server.sin_port = htons(port);
        ::inet_pton(AF_INET, host, &server.sin_addr);
        return ::connect(fd_, reinterpret_cast<sockaddr*>(&server), sizeof server) == 0;
    }

    bool send(const std::vector<std::uint8_t>& bytes) {
        return sendBytes(fd_, bytes.data(), bytes.size()) == static_cast<long>(bytes.size());
    }

    // One datagram within timeoutMs, with the port it came from; empty and
    // port 0 when none arrived.
    std::vector<std::uint8_t> receive(int timeoutMs = 1000, std::uint16_t* fromPort = nullptr) {
        if (!waitReadable(fd_, timeoutMs)) return {};
        std::vector<std::uint8_t> bytes(65536);
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const int got = ::recvfrom(fd_, reinterpret_cast<char*>(bytes.data()), static_cast<int>(bytes.size()), 0,
                                   reinterpret_cast<sockaddr*>(&from), &length);
        bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        if (fromPort != nullptr) *fromPort = ntohs(from.sin_port);
        return bytes;
    }

    // True when no datagram is waiting within timeoutMs.
    bool isQuiet(int timeoutMs = 0) {
        return !waitReadable(fd_, timeoutMs);
    }

private:
    TestSocket fd_ = kNoTestSocket;
};

class UdpServerTest : public ::testing::Test {
protected:
    static constexpr std::uint32_t kPassTimeOut = 20;

    void SetUp() override {
        Notifications::reset();
        handle.reset(mbusSlave_createUdpProtocol());
        ASSERT_NE(handle, nullptr);
        mbusSlave_configureUdpNotifications(raw(), &Notifications::onRequest);
        ASSERT_EQ(mbusSlave_setTimeout(raw(), kPassTimeOut), MB_OK);
        ASSERT_TRUE(master.open());
    }

    MbusSlaveHandle* raw() { return handle.get(); }
    UdpProtocol& server() { return *protocolAs<UdpProtocol>(raw()); }

    void start(const char* host = "127.0.0.1") {
        ASSERT_EQ(mbusSlave_setPort(raw(), 0), MB_OK);
        ASSERT_EQ(mbusSlave_startupIpServer(raw(), host), MB_OK);
        port = server().boundPort();
        ASSERT_NE(port, 0);
    }

    // A data table without callbacks for one unit identifier or all (-1).
    void serveUnit(int unit) {
        ASSERT_EQ(test::configureEmptyCallbacks(raw(), unit),
                  MB_OK);
    }

    int pass() { return mbusSlave_serverLoop(raw()); }
    std::uint32_t total() { return mbusSlave_getTotalCounter(raw()); }
    std::uint32_t success() { return mbusSlave_getSuccessCounter(raw()); }

    HandlePtr handle;
    DatagramMaster master;
    std::uint16_t port = 0;
};

}  // namespace mbslave::test

// Failing socket calls, injected through the platform layer: the error codes
// of start-up and of a pass, the server left as it must be, nothing leaked.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "ip/udp_protocol.hpp"
#include "support/callbacks.hpp"
#include "support/fake_clock.hpp"
#include "support/injected_socket_fault.hpp"
#include "support/loopback_datagram.hpp"
#include "support/open_descriptors.hpp"
#include "tcp_server_fixture.hpp"

namespace mbslave::test {
namespace {

using platform::SocketCall;
using Events = std::vector<std::string>;

// The system's own error numbers, which the platform layer maps: errno
// values on POSIX, WSA error codes on Windows (Winsock has no EPERM, no
// ENFILE and reports memory shortage as ENOBUFS; SIGPIPE's EPIPE is a reset).
#ifdef _WIN32
constexpr int kEACCES = WSAEACCES, kEPERM = WSAEACCES, kEADDRINUSE = WSAEADDRINUSE,
              kEADDRNOTAVAIL = WSAEADDRNOTAVAIL, kEBADF = WSAENOTSOCK, kECONNABORTED = WSAECONNABORTED,
              kECONNRESET = WSAECONNRESET, kEINTR = WSAEINTR, kEINVAL = WSAEINVAL, kEMFILE = WSAEMFILE,
              kENFILE = WSAENOBUFS, kENOBUFS = WSAENOBUFS, kENOMEM = WSAENOBUFS, kEOPNOTSUPP = WSAEOPNOTSUPP,
              kEPIPE = WSAECONNRESET;
#else
constexpr int kEACCES = EACCES, kEPERM = EPERM, kEADDRINUSE = EADDRINUSE, kEADDRNOTAVAIL = EADDRNOTAVAIL,
              kEBADF = EBADF, kECONNABORTED = ECONNABORTED, kECONNRESET = ECONNRESET, kEINTR = EINTR,
              kEINVAL = EINVAL, kEMFILE = EMFILE, kENFILE = ENFILE, kENOBUFS = ENOBUFS, kENOMEM = ENOMEM,
              kEOPNOTSUPP = EOPNOTSUPP, kEPIPE = EPIPE;
#endif

enum class Kind { tcp, rtuOverTcp, udp };

const char* kindName(Kind kind) {
    switch (kind) {
        case Kind::tcp: return "tcp";
        case Kind::rtuOverTcp: return "rtu over tcp";
        case Kind::udp: return "udp";
    }
    return "?";
}

MbusSlaveHandle* createServer(Kind kind) {
    switch (kind) {
        case Kind::tcp: return mbusSlave_createTcpProtocol();
        case Kind::rtuOverTcp: return mbusSlave_createRtuOverTcpProtocol();
        case Kind::udp: return mbusSlave_createUdpProtocol();
    }
    return nullptr;
}

struct StartupFault {
    Kind kind;
    SocketCall call;
    int error;
    int result;
};

TEST(SocketFaults, FailedStartupStepIsReportedLeavesTheServerStoppedAndLeaksNothing) {
    const StartupFault cases[] = {
        {Kind::tcp, SocketCall::startLibrary, kENFILE, MB_ERR_SOCKET_LIBRARY},
        {Kind::tcp, SocketCall::open, kEMFILE, MB_ERR_PORT_OPEN},
        {Kind::tcp, SocketCall::setNonBlocking, kEBADF, MB_ERR_PORT_OPEN},
        {Kind::tcp, SocketCall::bind, kEACCES, MB_ERR_NO_PERMISSION},
        {Kind::tcp, SocketCall::bind, kEPERM, MB_ERR_NO_PERMISSION},
        {Kind::tcp, SocketCall::bind, kEADDRINUSE, MB_ERR_TCP_PORT_BOUND},
        {Kind::tcp, SocketCall::bind, kEADDRNOTAVAIL, MB_ERR_TCP_PORT_NOT_AVAILABLE},
        {Kind::tcp, SocketCall::listen, kEADDRINUSE, MB_ERR_LISTEN_FAILED},
        {Kind::rtuOverTcp, SocketCall::open, kENFILE, MB_ERR_PORT_OPEN},
        {Kind::rtuOverTcp, SocketCall::bind, kEACCES, MB_ERR_NO_PERMISSION},
        {Kind::rtuOverTcp, SocketCall::listen, kEOPNOTSUPP, MB_ERR_LISTEN_FAILED},
        {Kind::udp, SocketCall::startLibrary, kENFILE, MB_ERR_SOCKET_LIBRARY},
        {Kind::udp, SocketCall::open, kEMFILE, MB_ERR_PORT_OPEN},
        {Kind::udp, SocketCall::bind, kEACCES, MB_ERR_NO_PERMISSION},
        {Kind::udp, SocketCall::bind, kEADDRINUSE, MB_ERR_TCP_PORT_BOUND},
        {Kind::udp, SocketCall::bind, kEINVAL, MB_ERR_TCP_PORT_NOT_AVAILABLE},
        // After a successful bind: the bound socket must not stay behind.
        {Kind::udp, SocketCall::setNonBlocking, kEBADF, MB_ERR_PORT_OPEN},
    };
    for (const StartupFault& c : cases) {
        SCOPED_TRACE(std::string(kindName(c.kind)) + " " + std::to_string(static_cast<int>(c.call)) +
                     " errno " + std::to_string(c.error));
        HandlePtr handle(createServer(c.kind));
        ASSERT_NE(handle, nullptr);
        IpProtocol& server = *protocolAs<IpProtocol>(handle.get());
        InjectedSocketFault fault(c.call, c.error);
        server.setSocketFaults(&fault);
        ASSERT_EQ(mbusSlave_setPort(handle.get(), 0), MB_OK);
        const int descriptors = openDescriptorCount();

        EXPECT_EQ(mbusSlave_startupIpServer(handle.get(), "127.0.0.1"), c.result);
        EXPECT_EQ(fault.injected(), 1);
        EXPECT_EQ(mbusSlave_isStarted(handle.get()), 0);
        EXPECT_EQ(mbusSlave_serverLoop(handle.get()), MB_ERR_ILLEGAL_STATE);
        EXPECT_EQ(openDescriptorCount(), descriptors);
        // The fault is spent: the next start-up succeeds.
        EXPECT_EQ(mbusSlave_startupIpServer(handle.get(), "127.0.0.1"), MB_OK);
        EXPECT_EQ(mbusSlave_isStarted(handle.get()), 1);
    }
}

struct WaitFault {
    Kind kind;
    int error;
    int result;
};

TEST(SocketFaults, FailedWaitEndsThePassWithIoErrorAndKeepsConnections) {
    const WaitFault cases[] = {
        {Kind::tcp, kEBADF, MB_ERR_IO},         {Kind::tcp, kENOMEM, MB_ERR_IO},
        {Kind::tcp, kEINTR, MB_OK},             {Kind::rtuOverTcp, kEINVAL, MB_ERR_IO},
        {Kind::udp, kENOMEM, MB_ERR_IO},        {Kind::udp, kEINTR, MB_OK},
    };
    for (const WaitFault& c : cases) {
        SCOPED_TRACE(std::string(kindName(c.kind)) + " errno " + std::to_string(c.error));
        HandlePtr handle(createServer(c.kind));
        IpProtocol& server = *protocolAs<IpProtocol>(handle.get());
        ASSERT_EQ(mbusSlave_setTimeout(handle.get(), 20), MB_OK);
        ASSERT_EQ(mbusSlave_setPort(handle.get(), 0), MB_OK);
        ASSERT_EQ(mbusSlave_startupIpServer(handle.get(), "127.0.0.1"), MB_OK);
        LoopbackClient master;
        if (c.kind != Kind::udp) {
            ASSERT_TRUE(master.connect(server.boundPort()));
            ASSERT_EQ(mbusSlave_serverLoop(handle.get()), MB_OK);
        }
        InjectedSocketFault fault(SocketCall::wait, c.error);
        server.setSocketFaults(&fault);

        EXPECT_EQ(mbusSlave_serverLoop(handle.get()), c.result);
        EXPECT_EQ(fault.injected(), 1);
        EXPECT_EQ(mbusSlave_isStarted(handle.get()), 1);
        if (c.kind != Kind::udp) {
            EXPECT_EQ(static_cast<TcpProtocol&>(server).connectionCount(), 1);
            EXPECT_TRUE(master.isQuiet());
        }
    }
}

class TcpSocketFaults : public TcpServerTest {
protected:
    void SetUp() override {
        TcpServerTest::SetUp();
        serveEveryUnit();
        start();
    }

    void inject(SocketCall call, int error) {
        fault = InjectedSocketFault(call, error);
        server().setSocketFaults(&fault);
    }

    InjectedSocketFault fault{SocketCall::open, 0, 0};
};

TEST_F(TcpSocketFaults, FailedAcceptLeavesTheSlotFreeAndTheMasterPending) {
    LoopbackClient master;
    ASSERT_TRUE(master.connect(port));
    inject(SocketCall::accept, kECONNABORTED);
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(fault.injected(), 1);
    EXPECT_EQ(server().connectionCount(), 0);
    EXPECT_TRUE(Notifications::events.empty());
    // Still in the backlog: the next pass takes it.
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(server().connectionCount(), 1);
    ASSERT_TRUE(master.send(unsupportedRequest(1, 1)));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(master.receive(9), illegalFunctionReply(1, 1));
}

TEST_F(TcpSocketFaults, AcceptWithoutDescriptorsLeftClosesThePendingConnection) {
    for (int error : {kEMFILE, kENFILE}) {
        SCOPED_TRACE(error);
        Notifications::reset();
        LoopbackClient master;
        ASSERT_TRUE(master.connect(port));
        inject(SocketCall::accept, error);
        const int descriptors = openDescriptorCount();
        EXPECT_EQ(pass(), MB_OK);
        EXPECT_EQ(fault.injected(), 1);
        EXPECT_EQ(server().connectionCount(), 0);
        EXPECT_TRUE(master.closedByPeer());
        EXPECT_TRUE(Notifications::events.empty());
        EXPECT_EQ(openDescriptorCount(), descriptors);
    }
    // The listener has nothing pending any more, and still accepts.
    LoopbackClient next = connectMaster();
    EXPECT_EQ(Notifications::events, (Events{"accept 127.0.0.1"}));
}

TEST_F(TcpSocketFaults, FailedReceiveClosesTheConnectionUncounted) {
    inject(SocketCall::receive, kECONNRESET);
    LoopbackClient master = connectMaster();
    ASSERT_TRUE(master.send(unsupportedRequest(1, 1)));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(server().connectionCount(), 0);
    EXPECT_TRUE(master.closedByPeer());
    EXPECT_EQ(mbusSlave_getTotalCounter(raw()), 0u);
    EXPECT_EQ(Notifications::events, (Events{"accept 127.0.0.1", "close 127.0.0.1"}));
}

TEST_F(TcpSocketFaults, FailedSendClosesTheConnectionAfterItsBookkeeping) {
    inject(SocketCall::send, kEPIPE);  // taken over by the connection
    LoopbackClient master = connectMaster();
    ASSERT_TRUE(master.send(unsupportedRequest(1, 1)));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(fault.injected(), 1);
    EXPECT_EQ(server().connectionCount(), 0);
    EXPECT_TRUE(master.closedByPeer());
    EXPECT_EQ(mbusSlave_getSuccessCounter(raw()), 1u);
    EXPECT_EQ(Notifications::events,
              (Events{"accept 127.0.0.1", "request 127.0.0.1", "close 127.0.0.1"}));
}

#ifndef _WIN32
// Lowers the soft descriptor limit of this process to the descriptors open
// now and fills every free number below it: the next descriptor the process
// asks for fails with EMFILE. Undone when destroyed.
class DescriptorExhaustion {
public:
    DescriptorExhaustion() {
        getrlimit(RLIMIT_NOFILE, &saved_);
        rlimit low = saved_;
        low.rlim_cur = static_cast<rlim_t>(highestOpenDescriptor() + 1);
        limited_ = setrlimit(RLIMIT_NOFILE, &low) == 0;
        int filler;
        while (limited_ && fillers_.size() < 4096 && (filler = fcntl(0, F_DUPFD_CLOEXEC, 0)) >= 0) {
            fillers_.push_back(filler);
        }
        exhausted_ = limited_ && errno == EMFILE;
    }
    ~DescriptorExhaustion() {
        for (const int filler : fillers_) ::close(filler);
        setrlimit(RLIMIT_NOFILE, &saved_);
    }
    DescriptorExhaustion(const DescriptorExhaustion&) = delete;
    DescriptorExhaustion& operator=(const DescriptorExhaustion&) = delete;

    bool exhausted() const { return exhausted_; }

private:
    static int highestOpenDescriptor() {
        int highest = 2;
        DIR* directory = opendir("/proc/self/fd");
        if (directory == nullptr) return 1023;
        const int own = dirfd(directory);
        while (const dirent* entry = readdir(directory)) {
            const int descriptor = std::atoi(entry->d_name);
            if (descriptor != own) highest = std::max(highest, descriptor);
        }
        closedir(directory);
        return highest;
    }

    rlimit saved_{};
    std::vector<int> fillers_;
    bool limited_ = false;
    bool exhausted_ = false;
};

TEST_F(TcpSocketFaults, OutOfDescriptorsThePassesStayBoundedByTheTimeOutAndServeConnections) {
    using std::chrono::steady_clock;
    constexpr std::uint32_t kWaitMs = 200;
    ASSERT_EQ(mbusSlave_setTimeout(raw(), kWaitMs), MB_OK);
    // A still clock keeps master time-out notifications out of the passes:
    // the sanitizers need a descriptor the first time they check a call
    // path, so every path the passes take is run once beforehand.
    FakeClock::set(1000);
    server().setTickSource(&FakeClock::tick);
    LoopbackClient served = connectMaster();
    ASSERT_TRUE(served.send(unsupportedRequest(6, 1)));
    ASSERT_EQ(pass(), MB_OK);
    ASSERT_EQ(served.receive(9), illegalFunctionReply(6, 1));
    std::vector<LoopbackClient> pending(3);
    for (LoopbackClient& master : pending) ASSERT_TRUE(master.connect(port));

    int passes = 0;
    std::vector<std::uint8_t> reply;
    {
        DescriptorExhaustion exhaustion;
        ASSERT_TRUE(exhaustion.exhausted());
        ASSERT_TRUE(served.send(unsupportedRequest(7, 1)));
        const auto end = steady_clock::now() + std::chrono::seconds(1);
        while (steady_clock::now() < end && passes < 100000) {
            ASSERT_EQ(pass(), MB_OK);
            if (++passes == 1) reply = served.receiveAvailable(0);
        }
    }
    // 1 s of 200 ms waits, one pass per pending connection, slack for a
    // loaded machine; a listener left readable makes it hundreds of thousands.
    EXPECT_LE(passes, 20) << passes << " passes in 1 s";
    EXPECT_EQ(reply, illegalFunctionReply(7, 1));
    for (LoopbackClient& master : pending) EXPECT_TRUE(master.closedByPeer());
    EXPECT_EQ(server().connectionCount(), 1);
    // With descriptors back, new masters are served again.
    LoopbackClient late = connectMaster();
    ASSERT_TRUE(late.send(unsupportedRequest(8, 1)));
    EXPECT_EQ(pass(), MB_OK);
    EXPECT_EQ(late.receive(9), illegalFunctionReply(8, 1));
}
#endif  // Winsock has no per-process descriptor limit to lower

TEST(UdpSocketFaults, FailedSendIsNotAnErrorOfThePass) {
    HandlePtr handle(mbusSlave_createUdpProtocol());
    UdpProtocol& server = *protocolAs<UdpProtocol>(handle.get());
    ASSERT_EQ(test::configureEmptyCallbacks(handle.get(), -1),
              MB_OK);
    ASSERT_EQ(mbusSlave_setPort(handle.get(), 0), MB_OK);
    ASSERT_EQ(mbusSlave_startupIpServer(handle.get(), "127.0.0.1"), MB_OK);
    InjectedSocketFault fault(SocketCall::send, kENOBUFS);
    server.setSocketFaults(&fault);
    LoopbackDatagram master;
    ASSERT_TRUE(master.sendTo(server.boundPort(), unsupportedRequest(1, 1)));
    EXPECT_EQ(mbusSlave_serverLoop(handle.get()), MB_OK);
    EXPECT_EQ(fault.injected(), 1);
    EXPECT_FALSE(master.receive(50).has_value());
    EXPECT_EQ(mbusSlave_getSuccessCounter(handle.get()), 1u);
    // The next reply leaves again.
    ASSERT_TRUE(master.sendTo(server.boundPort(), unsupportedRequest(2, 1)));
    EXPECT_EQ(mbusSlave_serverLoop(handle.get()), MB_OK);
    EXPECT_EQ(master.receive(), illegalFunctionReply(2, 1));
}

}  // namespace
}  // namespace mbslave::test

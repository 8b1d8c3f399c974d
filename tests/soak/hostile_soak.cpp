// Hostile-traffic soak: one process serves Modbus/TCP, RTU over TCP and UDP
// at once (three handles, one server thread each) while clients mix valid
// requests with random and mutated frames, half frames, resets in the middle
// of a request, connection floods beyond the 32 slots and idle connections.
// Built with libmbslave-tls, a fourth handle serves Modbus/TCP Security
// (with the test PKI named by MBSLAVE_TEST_PKI): its masters also send the
// noise before any handshake, and mutated frames inside TLS from masters
// that then reset or leave without a close alert.
// Afterwards every server must still answer, every valid request must have
// been answered correctly, the counters must be consistent, the open
// descriptors back to their number before the traffic and the heap in use
// back to its size before start-up.
//
// Usage: mbslave_soak [seconds] [seed]      (defaults: 60, 1)
// Prints the figures; exit status 0 when every check held.
#include <arpa/inet.h>
#include <malloc.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <random>
#include <thread>
#include <string>
#include <vector>

#if MBSLAVE_SOAK_TLS
#include <openssl/err.h>
#include <openssl/ssl.h>

#include "mbslave_tls.h"
#endif

#include "api/protocol_handle.hpp"
#include "engine/rtu_frame_bytes.hpp"
#include "ip/tcp_protocol.hpp"
#include "support/frames.hpp"
#include "support/loopback_client.hpp"
#include "support/loopback_datagram.hpp"
#include "support/mbap.hpp"
#include "support/modbus_requests.hpp"
#include "support/open_descriptors.hpp"
#include "support/permissive_table.hpp"

namespace mbslave::test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kUnit = 9;
constexpr int kReplyWaitMs = 5000;            // a valid request must be answered within this
constexpr std::uint32_t kConnectionTimeOut = 3000;
constexpr int kFloodConnections = 40;         // beyond the 32 slots
// Valid requests carry transaction identifiers with the high bit set;
// hostile frames never do, so a master can tell their replies apart.
constexpr std::uint16_t kValidTransaction = 0x8000;

enum class Kind { tcp, rtuOverTcp, udp, tls };
const char* kindName(Kind kind) {
    switch (kind) {
        case Kind::tcp: return "Modbus/TCP";
        case Kind::rtuOverTcp: return "RTU over TCP";
        case Kind::udp: return "UDP";
        default: return "TLS";
    }
}
// The test PKI of the TLS handle (tools/make-test-pki.sh).
std::string tlsPki;

struct Server {
    Kind kind;
    MbusSlaveHandle* handle = nullptr;
    PermissiveTable table;
    std::uint16_t port = 0;
    std::thread thread;
};

struct Figures {
    std::atomic<long> validSent{0};
    std::atomic<long> validAnswered{0};
    std::atomic<long> validWrong{0};
    std::atomic<long> validMissing{0};  // UDP: no reply came
    std::atomic<long> hostileFrames{0};
    std::atomic<long> connections{0};
};

// A valid read request drawn from the generator, and the reply the table gives.
struct ValidRequest {
    Bytes request;
    Bytes reply;
};
ValidRequest drawValid(std::mt19937& random) {
    const std::uint8_t functionCode = static_cast<std::uint8_t>(1 + random() % 4);
    const int start = static_cast<int>(random() % 65000);
    const int quantity = 1 + static_cast<int>(random() % (functionCode <= 2 ? 2000 : 125));
    return {readRequest(kUnit, functionCode, start, quantity), readReply(kUnit, functionCode, start, quantity)};
}

// A hostile frame for the kind: random bytes, or a valid frame mutated by
// bit flips, truncation, extension or a forged length.
Bytes drawHostile(std::mt19937& random, Kind kind, std::uint16_t transactionId) {
    std::vector<Bytes> seeds = validRequestPerFunctionCode(kUnit);
    Bytes request = seeds[random() % seeds.size()];
    Bytes frame = kind == Kind::rtuOverTcp ? withCrc(request) : mbapFrame(transactionId, request);
    switch (random() % 5) {
        case 0:  // noise
            frame.resize(1 + random() % 300);
            for (std::uint8_t& byte : frame) byte = static_cast<std::uint8_t>(random());
            break;
        case 1:  // bit flips
            for (int flips = 1 + static_cast<int>(random() % 4); flips > 0; --flips) {
                frame[random() % frame.size()] ^= static_cast<std::uint8_t>(1u << (random() % 8));
            }
            break;
        case 2:  // cut short
            frame.resize(random() % frame.size());
            break;
        case 3:  // extended
            for (int extra = 1 + static_cast<int>(random() % 40); extra > 0; --extra) {
                frame.push_back(static_cast<std::uint8_t>(random()));
            }
            break;
        default:  // forged MBAP length or byte count
            if (frame.size() > 6) frame[kind == Kind::rtuOverTcp ? 2 : 5] = static_cast<std::uint8_t>(random());
            break;
    }
    if (kind != Kind::rtuOverTcp && frame.size() >= 2) frame[0] &= 0x7F;  // never a valid transaction
    return frame;
}

bool sendRaw(int descriptor, const Bytes& bytes) {
    return !bytes.empty() && ::send(descriptor, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT) > 0;
}

// A misbehaving master's connection. Connecting gives up after a short
// wait, so that a full backlog does not stall the attack.
class HostileConnection {
public:
    HostileConnection() = default;
    HostileConnection(HostileConnection&& other) noexcept : fd(other.fd) { other.fd = -1; }
    HostileConnection& operator=(HostileConnection&& other) noexcept {
        if (this != &other) {
            close();
            fd = other.fd;
            other.fd = -1;
        }
        return *this;
    }
    ~HostileConnection() { close(); }

    bool connect(std::uint16_t port) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) return false;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return true;
        pollfd entry{fd, POLLOUT, 0};
        int error = 0;
        socklen_t length = sizeof error;
        if (errno == EINPROGRESS && ::poll(&entry, 1, 100) == 1 &&
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0) {
            return true;
        }
        close();
        return false;
    }
    bool send(const Bytes& bytes) const { return fd >= 0 && sendRaw(fd, bytes); }
    // Closes with a reset instead of the orderly end of stream.
    void reset() {
        if (fd < 0) return;
        const linger abort{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        close();
    }
    void close() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }

private:
    int fd = -1;
};

Bytes firstHalf(const Bytes& frame) { return Bytes(frame.begin(), frame.begin() + static_cast<long>(frame.size() / 2)); }

// Reads exactly count bytes, skipping nothing; empty on time-out or close.
Bytes receiveExactly(LoopbackClient& client, std::size_t count) { return client.receive(count, kReplyWaitMs); }
std::optional<Bytes> mbapReplyOf(LoopbackClient& client, std::uint16_t transaction) {
    return readMbapReply(client, transaction, kReplyWaitMs);
}

#if MBSLAVE_SOAK_TLS
// A master's TLS connection with the "operator" certificate, blocking, its
// receives bounded by kReplyWaitMs.
class TlsLink {
public:
    TlsLink() = default;
    TlsLink(const TlsLink&) = delete;
    TlsLink& operator=(const TlsLink&) = delete;
    ~TlsLink() { close(); }

    bool connect(std::uint16_t port) {
        context_ = SSL_CTX_new(TLS_client_method());
        if (context_ == nullptr || SSL_CTX_load_verify_locations(context_, (tlsPki + "/ca.pem").c_str(), nullptr) != 1 ||
            SSL_CTX_use_certificate_chain_file(context_, (tlsPki + "/operator.pem").c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(context_, (tlsPki + "/operator.key").c_str(), SSL_FILETYPE_PEM) != 1) {
            return false;
        }
        SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0) return false;
        const timeval wait{kReplyWaitMs / 1000, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return false;
        session_ = SSL_new(context_);
        if (session_ == nullptr) return false;
        SSL_set_fd(session_, fd_);
        return SSL_connect(session_) == 1;
    }
    bool send(const Bytes& bytes) {
        std::size_t written = 0;
        return !bytes.empty() && SSL_write_ex(session_, bytes.data(), bytes.size(), &written) == 1 &&
               written == bytes.size();
    }
    Bytes receive(std::size_t count) {
        Bytes bytes(count);
        std::size_t have = 0;
        std::size_t got = 0;
        while (have < count && SSL_read_ex(session_, bytes.data() + have, count - have, &got) == 1) have += got;
        bytes.resize(have);
        return bytes;
    }
    // The MBAP reply to `transaction` (unit and PDU), empty on anything else.
    Bytes mbapReply(std::uint16_t transaction) {
        const Bytes header = receive(6);
        if (header.size() != 6 || ((header[0] << 8) | header[1]) != transaction) return {};
        return receive(static_cast<std::size_t>((header[4] << 8) | header[5]));
    }
    // Leaves without a close alert, with a reset.
    void reset() {
        if (fd_ < 0) return;
        const linger abort{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        SSL_free(session_);
        session_ = nullptr;
        close();
    }
    void close() {
        if (session_ != nullptr) {
            SSL_shutdown(session_);
            SSL_free(session_);
            session_ = nullptr;
        }
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        SSL_CTX_free(context_);
        context_ = nullptr;
        ERR_clear_error();
    }

private:
    SSL_CTX* context_ = nullptr;
    SSL* session_ = nullptr;
    int fd_ = -1;
};

// OpenSSL's client writes its socket without MSG_NOSIGNAL: a master thread
// that writes after the server closed gets EPIPE instead of the signal
// (the server threads keep it, so a server that raised it would still
// end the soak).
void blockBrokenPipeInThisThread() {
    sigset_t brokenPipe;
    sigemptyset(&brokenPipe);
    sigaddset(&brokenPipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &brokenPipe, nullptr);
}

Bytes receiveExactly(TlsLink& link, std::size_t count) { return link.receive(count); }
Bytes mbapReplyOf(TlsLink& link, std::uint16_t transaction) { return link.mbapReply(transaction); }
#endif

// A master of a TCP kind (Link: LoopbackClient, or TlsLink for TLS) that
// sends only valid requests on one connection and checks every reply.
template <typename Link>
void validConnectionMaster(const Server& server, Figures& figures, const std::atomic<bool>& running,
                           std::uint32_t seed) {
#if MBSLAVE_SOAK_TLS
    if (server.kind == Kind::tls) blockBrokenPipeInThisThread();
#endif
    std::mt19937 random(seed);
    Link master;
    if (!master.connect(server.port)) {
        figures.validWrong++;
        return;
    }
    std::uint16_t transaction = kValidTransaction;
    while (running.load()) {
        const ValidRequest valid = drawValid(random);
        figures.validSent++;
        bool correct;
        if (server.kind != Kind::rtuOverTcp) {
            transaction = static_cast<std::uint16_t>(kValidTransaction | ((transaction + 1) & 0x7FFF));
            correct = master.send(mbapFrame(transaction, valid.request)) &&
                      mbapReplyOf(master, transaction) == valid.reply;
        } else {
            const Bytes expected = withCrc(valid.reply);
            correct = master.send(withCrc(valid.request)) && receiveExactly(master, expected.size()) == expected;
        }
        ++(correct ? figures.validAnswered : figures.validWrong);
        if (!correct) {
            std::fprintf(stderr, "%s: valid request not answered correctly\n", kindName(server.kind));
            return;
        }
    }
}

// UDP master: a hostile datagram, then a valid one whose reply must come.
// The server's receive buffer is as small as the largest frame, so the
// system may drop a datagram before the server sees it; a valid request
// without reply is excused only by the drop counter of the server's socket.
void udpMaster(const Server& server, Figures& figures, const std::atomic<bool>& running, std::uint32_t seed) {
    std::mt19937 random(seed);
    LoopbackDatagram master;
    std::uint16_t transaction = kValidTransaction;
    while (running.load()) {
        Bytes hostile = drawHostile(random, Kind::udp, static_cast<std::uint16_t>(random()));
        if (random() % 8 == 0) hostile.resize(261 + random() % 200, 0x55);  // oversized
        if (master.sendTo(server.port, hostile)) figures.hostileFrames++;
        const ValidRequest valid = drawValid(random);
        transaction = static_cast<std::uint16_t>(kValidTransaction | ((transaction + 1) & 0x7FFF));
        figures.validSent++;
        const bool sent = master.sendTo(server.port, mbapFrame(transaction, valid.request));
        std::optional<Bytes> reply;
        // Replies to hostile datagrams (and to nothing else) come first.
        while (sent && (reply = master.receive(kReplyWaitMs)) &&
               (reply->size() < 2 || ((*reply)[0] << 8 | (*reply)[1]) != transaction)) {
        }
        if (!reply) {
            figures.validMissing++;
            continue;
        }
        const bool correct = *reply == mbapFrame(transaction, valid.reply);
        ++(correct ? figures.validAnswered : figures.validWrong);
        if (!correct) {
            std::fprintf(stderr, "UDP: valid request answered wrongly\n");
            return;
        }
    }
}

// Datagrams the system dropped for the loopback UDP socket on port, as
// /proc/net/udp counts them (last column); -1 when not found.
long udpSocketDrops(std::uint16_t port) {
    std::FILE* table = std::fopen("/proc/net/udp", "r");
    if (table == nullptr) return -1;
    char line[512];
    long drops = -1;
    char local[32];
    while (std::fgets(line, sizeof line, table) != nullptr) {
        if (std::sscanf(line, " %*d: %31s", local) != 1) continue;
        char expected[32];
        std::snprintf(expected, sizeof expected, "0100007F:%04X", port);
        if (std::strcmp(local, expected) != 0) continue;
        const char* last = std::strrchr(line, ' ');
        drops = last != nullptr ? std::strtol(last + 1, nullptr, 10) : -1;
    }
    std::fclose(table);
    return drops;
}

#if MBSLAVE_SOAK_TLS
// Authenticated masters that misbehave inside TLS: mutated frames, half
// frames, then a reset or an end without close alert (or a proper close).
void hostileTlsMaster(const Server& server, Figures& figures, const std::atomic<bool>& running, std::uint32_t seed) {
    blockBrokenPipeInThisThread();
    std::mt19937 random(seed);
    while (running.load()) {
        TlsLink master;
        if (!master.connect(server.port)) continue;
        figures.connections++;
        for (int frames = 1 + static_cast<int>(random() % 5); frames > 0; --frames) {
            const Bytes frame = drawHostile(random, Kind::tls, static_cast<std::uint16_t>(random()));
            if (master.send(random() % 4 == 0 ? firstHalf(frame) : frame)) figures.hostileFrames++;
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 500));
        }
        if (random() % 2 == 0) master.reset();
    }
}
#endif

// A master of a TCP kind that misbehaves: noise and mutated frames, half
// frames, resets in the middle of a request, floods of connections beyond
// the slots and connections that stay idle.
void hostileConnectionMaster(const Server& server, Figures& figures, const std::atomic<bool>& running,
                             std::uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<HostileConnection> idle;
    while (running.load()) {
        const unsigned action = random() % 10;
        if (action == 0) {
            // Flood: more connections than slots, each with a part of a frame.
            std::vector<HostileConnection> flood(kFloodConnections);
            for (HostileConnection& client : flood) {
                if (!client.connect(server.port)) continue;
                figures.connections++;
                if (client.send(firstHalf(drawHostile(random, server.kind, static_cast<std::uint16_t>(random()))))) {
                    figures.hostileFrames++;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(random() % 100));
            for (HostileConnection& client : flood) (random() % 2 == 0) ? client.reset() : client.close();
            continue;
        }
        if (action == 1) {
            // Stays open and silent until the server's idle time-out or the end.
            if (idle.size() == 8) idle.erase(idle.begin());
            HostileConnection client;
            if (client.connect(server.port)) {
                figures.connections++;
                idle.push_back(std::move(client));
            }
            continue;
        }
        HostileConnection client;
        if (!client.connect(server.port)) continue;
        figures.connections++;
        for (int frames = 1 + static_cast<int>(random() % 5); frames > 0; --frames) {
            const Bytes frame = drawHostile(random, server.kind, static_cast<std::uint16_t>(random()));
            if (action == 2) {
                // Half a frame, then a reset in the middle of the request.
                if (client.send(firstHalf(frame))) figures.hostileFrames++;
                break;
            }
            if (client.send(frame)) figures.hostileFrames++;
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 500));
        }
        (action == 2 || random() % 2 == 0) ? client.reset() : client.close();
    }
}

MbusSlaveHandle* createServer(Kind kind) {
    switch (kind) {
        case Kind::tcp: return mbusSlave_createTcpProtocol();
        case Kind::rtuOverTcp: return mbusSlave_createRtuOverTcpProtocol();
        case Kind::udp: return mbusSlave_createUdpProtocol();
        default: break;
    }
#if MBSLAVE_SOAK_TLS
    MbusSlaveHandle* handle = mbusSlave_createTlsProtocol();
    if (handle != nullptr &&
        (mbusSlave_setTlsCertificate(handle, (tlsPki + "/server.pem").c_str(), (tlsPki + "/server.key").c_str()) !=
             MB_OK ||
         mbusSlave_setTlsCaFile(handle, (tlsPki + "/ca.pem").c_str()) != MB_OK)) {
        mbusSlave_destroyProtocol(handle);
        return nullptr;
    }
    return handle;
#else
    return nullptr;
#endif
}

bool startServer(Server& server) {
    server.handle = createServer(server.kind);
    if (server.handle == nullptr) return false;
    protocolOf(server.handle)->setDataTable(kUnit, &server.table);
    mbusSlave_setTimeout(server.handle, 50);
    if (server.kind != Kind::udp) mbusSlave_setConnectionTimeOut(server.handle, kConnectionTimeOut);
    mbusSlave_setPort(server.handle, 0);
    if (mbusSlave_startupIpServer(server.handle, "127.0.0.1") != MB_OK) return false;
    server.port = static_cast<IpProtocol*>(protocolOf(server.handle))->boundPort();
    return server.port != 0;
}

int openConnections(Server& server) {
    return server.kind == Kind::udp ? 0 : protocolAs<TcpProtocol>(server.handle)->connectionCount();
}

// After the traffic, in the main thread: a valid request answered correctly.
bool answersValidRequest(Server& server) {
    const ValidRequest valid{readRequest(kUnit, 3, 100, 10), readReply(kUnit, 3, 100, 10)};
#if MBSLAVE_SOAK_TLS
    if (server.kind == Kind::tls) {
        // The handshake needs passes while the master waits for it.
        std::atomic<bool> done{false};
        std::thread serving([&server, &done] {
            while (!done.load()) mbusSlave_serverLoop(server.handle);
        });
        bool correct;
        {
            TlsLink master;
            correct = master.connect(server.port) && master.send(mbapFrame(0x8001, valid.request)) &&
                      master.mbapReply(0x8001) == valid.reply;
        }
        done = true;
        serving.join();
        for (int i = 0; i < 10 && openConnections(server) > 0; ++i) mbusSlave_serverLoop(server.handle);
        return correct;
    }
#endif
    if (server.kind == Kind::udp) {
        LoopbackDatagram master;
        if (!master.sendTo(server.port, mbapFrame(0x8001, valid.request))) return false;
        mbusSlave_serverLoop(server.handle);
        return master.receive() == mbapFrame(0x8001, valid.reply);
    }
    LoopbackClient master;
    if (!master.connect(server.port)) return false;
    mbusSlave_serverLoop(server.handle);  // accepts
    const bool isTcp = server.kind == Kind::tcp;
    if (!master.send(isTcp ? mbapFrame(0x8001, valid.request) : withCrc(valid.request))) return false;
    mbusSlave_serverLoop(server.handle);
    const bool correct = isTcp ? readMbapReply(master, 0x8001) == valid.reply
                               : master.receive(valid.reply.size() + 2) == withCrc(valid.reply);
    master.close();
    for (int i = 0; i < 10 && openConnections(server) > 0; ++i) mbusSlave_serverLoop(server.handle);
    return correct;
}

// Bytes of the heap in use (0 under AddressSanitizer, whose allocator
// glibc's figures do not see; its leak check covers that build).
std::size_t heapInUse() { return mallinfo2().uordblks; }

// Heap growth over the soak that is not a leak: glibc's and OpenSSL's
// bookkeeping of the first uses in the masters' threads. A leak of one
// small block per connection (thousands of them) is far above it.
constexpr std::size_t kHeapSlack = 64 * 1024;

#if MBSLAVE_SOAK_TLS
// OpenSSL sets up its algorithm tables on first use and keeps them: one
// TLS connection before the figures are taken.
bool warmUpTls() {
    Server server;
    server.kind = Kind::tls;
    const bool warm = startServer(server) && answersValidRequest(server);
    mbusSlave_destroyProtocol(server.handle);
    return warm;
}
#endif

int runSoak(int seconds, std::uint32_t seed) {
    std::vector<Kind> kinds{Kind::tcp, Kind::rtuOverTcp, Kind::udp};
#if MBSLAVE_SOAK_TLS
    if (tlsPki.empty()) {
        std::printf("TLS left out: MBSLAVE_TEST_PKI names no test PKI\n");
    } else if (!warmUpTls()) {
        std::fprintf(stderr, "TLS: the warm-up connection failed\n");
        return 1;
    } else {
        kinds.push_back(Kind::tls);
    }
#endif
    const std::size_t heapAtStart = heapInUse();
    const int descriptorsAtStart = openDescriptorCount();
    const int count = static_cast<int>(kinds.size());
    Server servers[4];
    for (int i = 0; i < count; ++i) {
        servers[i].kind = kinds[static_cast<std::size_t>(i)];
        if (!startServer(servers[i])) {
            std::fprintf(stderr, "%s: start-up failed\n", kindName(servers[i].kind));
            return 1;
        }
    }
    const int descriptorsServing = openDescriptorCount();

    std::atomic<bool> serving{true};
    for (int i = 0; i < count; ++i) {
        Server& server = servers[i];
        server.thread = std::thread([&server, &serving] {
            while (serving.load()) mbusSlave_serverLoop(server.handle);
        });
    }
    Figures figures[4];
    std::atomic<bool> running{true};
    std::vector<std::thread> masters;
    for (int i = 0; i < count; ++i) {
        const Server& server = servers[i];
        const auto offset = static_cast<std::uint32_t>(i);
        switch (server.kind) {
            case Kind::udp:
                masters.emplace_back(udpMaster, std::cref(server), std::ref(figures[i]), std::cref(running),
                                     seed + 30);
                break;
#if MBSLAVE_SOAK_TLS
            case Kind::tls:
                masters.emplace_back(validConnectionMaster<TlsLink>, std::cref(server), std::ref(figures[i]), std::cref(running),
                                     seed + 40);
                masters.emplace_back(hostileTlsMaster, std::cref(server), std::ref(figures[i]), std::cref(running),
                                     seed + 41);
                // Noise, half frames, floods and idle connections before any handshake.
                masters.emplace_back(hostileConnectionMaster, std::cref(server), std::ref(figures[i]),
                                     std::cref(running), seed + 42);
                break;
#endif
            default:
                masters.emplace_back(validConnectionMaster<LoopbackClient>, std::cref(server), std::ref(figures[i]),
                                     std::cref(running), seed + 10 + offset);
                masters.emplace_back(hostileConnectionMaster, std::cref(server), std::ref(figures[i]),
                                     std::cref(running), seed + 20 + offset);
                break;
        }
    }

    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    running = false;
    for (std::thread& master : masters) master.join();
    serving = false;
    for (int i = 0; i < count; ++i) servers[i].thread.join();

    // The masters are gone: the servers see every connection close.
    for (int i = 0; i < count; ++i) {
        for (int pass = 0; pass < 200 && openConnections(servers[i]) > 0; ++pass) {
            mbusSlave_serverLoop(servers[i].handle);
        }
    }
    const int descriptorsAfter = openDescriptorCount();

    bool ok = descriptorsAfter == descriptorsServing;
    std::printf("soak: %d s, seed %u\n", seconds, seed);
    for (int i = 0; i < count; ++i) {
        Server& server = servers[i];
        const Figures& figure = figures[i];
        const std::uint32_t total = mbusSlave_getTotalCounter(server.handle);
        const std::uint32_t success = mbusSlave_getSuccessCounter(server.handle);
        const bool answers = answersValidRequest(server);
        const bool counters = total >= success && success >= static_cast<std::uint32_t>(figure.validAnswered.load());
        const long drops = server.kind == Kind::udp ? udpSocketDrops(server.port) : 0;
        const long missing = figure.validMissing.load();
        const bool allValid = figure.validWrong.load() == 0 && figure.validSent.load() > 0 &&
                              figure.validAnswered.load() + missing == figure.validSent.load() &&
                              missing <= drops;
        char dropped[64] = "";
        if (server.kind == Kind::udp) std::snprintf(dropped, sizeof dropped, " (datagrams the system dropped: %ld)", drops);
        std::printf("  %-12s valid sent %ld, answered correctly %ld, wrong %ld, unanswered %ld%s; hostile frames %ld, "
                    "connections %ld; counters total %u, success %u; still answers: %s\n",
                    kindName(server.kind), figure.validSent.load(), figure.validAnswered.load(),
                    figure.validWrong.load(), missing, dropped, figure.hostileFrames.load(),
                    figure.connections.load(), total, success, answers ? "yes" : "NO");
        if (!counters) std::printf("  %-12s counters inconsistent\n", kindName(server.kind));
        if (server.table.bracketBroken) std::printf("  %-12s data access outside a lock bracket\n", kindName(server.kind));
        ok = ok && answers && counters && allValid && !server.table.bracketBroken;
    }
    for (int i = 0; i < count; ++i) mbusSlave_destroyProtocol(servers[i].handle);
    const int descriptorsAtEnd = openDescriptorCount();
    const std::size_t heapAtEnd = heapInUse();
    std::printf("  descriptors: %d before start-up, %d serving, %d after the traffic, %d after destruction\n",
                descriptorsAtStart, descriptorsServing, descriptorsAfter, descriptorsAtEnd);
    std::printf("  heap in use: %zu bytes before start-up, %zu after destruction\n", heapAtStart, heapAtEnd);
    ok = ok && descriptorsAtEnd == descriptorsAtStart && heapAtEnd <= heapAtStart + kHeapSlack;
    std::printf("soak: %s\n", ok ? "passed" : "FAILED");
    return ok ? 0 : 1;
}

}  // namespace
}  // namespace mbslave::test

int main(int argc, char** argv) {
    if (const char* pki = std::getenv("MBSLAVE_TEST_PKI")) mbslave::test::tlsPki = pki;
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const auto seed = static_cast<std::uint32_t>(argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1);
    return mbslave::test::runSoak(seconds > 0 ? seconds : 60, seed);
}

// Load generator for Modbus servers: N connections (or sockets), each in
// strict request/reply ping-pong, for a fixed time. Prints requests per
// second and the p50/p99 latency as one line of key=value pairs.
//
//   load_generator --mode tcp|rtutcp|udp|tls|tls-handshake --port P
//                  [--host 127.0.0.1] [--connections N] [--seconds S]
//                  [--warmup S] [--unit U] [--retry-ms R] [--pki DIR]
//                  [--resume 0|1]
//
// The request is FC3 reading 10 registers from address 0. A mode is a
// framing of that request with its transport: Modbus/TCP, RTU frames with
// CRC over TCP, or MBAP-framed datagrams over UDP. A UDP master whose reply
// has not come within R ms (default 200) sends a new request (counted as
// lost); its latency still runs from the first send, and late replies to
// the earlier one are skipped (counted as stale).
//
// tls is Modbus/TCP Security: the MBAP request inside TLS (OpenSSL's client
// with the "operator" certificate of a PKI from tools/make-test-pki.sh,
// --pki). tls-handshake measures connections instead: each one a handshake,
// one request and its reply (the server has then checked the master's
// certificate), and the close; with --resume 1 every handshake resumes the
// session of a first connection. Its rps is connections per second.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kReadHoldingRegisters = 3;
constexpr int kRegisterCount = 10;

// How one request and its reply look on the wire in a mode.
class Framing {
public:
    virtual ~Framing() = default;
    // Writes the request with the given sequence number; returns its length.
    virtual std::size_t encodeRequest(std::uint8_t* buffer, std::uint16_t sequence) const = 0;
    virtual std::size_t replyLength() const = 0;
    // True when the reply answers the request with that sequence number.
    virtual bool isReply(const std::uint8_t* reply, std::uint16_t sequence) const = 0;
    virtual bool isDatagram() const { return false; }
};

class MbapFraming : public Framing {
public:
    explicit MbapFraming(std::uint8_t unit) : unit_(unit) {}

    std::size_t encodeRequest(std::uint8_t* buffer, std::uint16_t sequence) const override {
        const std::uint8_t request[] = {static_cast<std::uint8_t>(sequence >> 8),
                                        static_cast<std::uint8_t>(sequence),
                                        0, 0, 0, 6, unit_, kReadHoldingRegisters,
                                        0, 0, 0, kRegisterCount};
        std::memcpy(buffer, request, sizeof request);
        return sizeof request;
    }
    std::size_t replyLength() const override { return 9 + 2 * kRegisterCount; }
    bool isReply(const std::uint8_t* reply, std::uint16_t sequence) const override {
        return reply[0] == static_cast<std::uint8_t>(sequence >> 8) &&
               reply[1] == static_cast<std::uint8_t>(sequence) && reply[7] == kReadHoldingRegisters &&
               reply[8] == 2 * kRegisterCount;
    }

private:
    std::uint8_t unit_;
};

class UdpMbapFraming : public MbapFraming {
public:
    using MbapFraming::MbapFraming;
    bool isDatagram() const override { return true; }
};

// CRC-16/MODBUS, bit by bit: the master's own check, independent of the
// library's table-driven one.
std::uint16_t modbusCrc(const std::uint8_t* bytes, std::size_t length) {
    unsigned crc = 0xFFFF;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1u) ? (crc >> 1) ^ 0xA001u : crc >> 1;
    }
    return static_cast<std::uint16_t>(crc);
}

// RTU frames have no sequence number: in strict ping-pong the reply on a
// connection answers its one outstanding request.
class RtuFraming : public Framing {
public:
    explicit RtuFraming(std::uint8_t unit) : unit_(unit) {}

    std::size_t encodeRequest(std::uint8_t* buffer, std::uint16_t) const override {
        const std::uint8_t request[] = {unit_, kReadHoldingRegisters, 0, 0, 0, kRegisterCount};
        std::memcpy(buffer, request, sizeof request);
        const std::uint16_t crc = modbusCrc(request, sizeof request);
        buffer[sizeof request] = static_cast<std::uint8_t>(crc);
        buffer[sizeof request + 1] = static_cast<std::uint8_t>(crc >> 8);
        return sizeof request + 2;
    }
    std::size_t replyLength() const override { return 5 + 2 * kRegisterCount; }
    bool isReply(const std::uint8_t* reply, std::uint16_t) const override {
        const std::size_t length = replyLength();
        const std::uint16_t crc = modbusCrc(reply, length - 2);
        return reply[0] == unit_ && reply[1] == kReadHoldingRegisters &&
               reply[2] == 2 * kRegisterCount && reply[length - 2] == (crc & 0xFF) &&
               reply[length - 1] == (crc >> 8);
    }

private:
    std::uint8_t unit_;
};

struct Options {
    std::string mode = "tcp";
    std::string host = "127.0.0.1";
    int port = 0;
    int connections = 1;
    double seconds = 3.0;
    double warmup = 0.5;
    int unit = 1;
    int retryMs = 200;
    std::string pki;
    bool resume = false;
};

struct Connection {
    int fd = -1;
    std::uint16_t sequence = 0;
    Clock::time_point sentAt;      // first send of the current request
    Clock::time_point lastSentAt;  // latest (re)send of it
    std::uint8_t reply[512];
    std::size_t received = 0;
    SSL* tls = nullptr;  // Modbus/TCP Security: the connection's TLS state
};

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const char* value = argv[i + 1];
        if (key == "--mode") options.mode = value;
        else if (key == "--host") options.host = value;
        else if (key == "--port") options.port = std::atoi(value);
        else if (key == "--connections") options.connections = std::atoi(value);
        else if (key == "--seconds") options.seconds = std::atof(value);
        else if (key == "--warmup") options.warmup = std::atof(value);
        else if (key == "--unit") options.unit = std::atoi(value);
        else if (key == "--retry-ms") options.retryMs = std::atoi(value);
        else if (key == "--pki") options.pki = value;
        else if (key == "--resume") options.resume = std::atoi(value) != 0;
        else return false;
    }
    return options.port > 0 && options.connections > 0 && options.connections <= 1024;
}

std::unique_ptr<Framing> makeFraming(const Options& options) {
    if (options.mode == "tcp" || options.mode == "tls" || options.mode == "tls-handshake") {
        return std::make_unique<MbapFraming>(options.unit);
    }
    if (options.mode == "rtutcp") return std::make_unique<RtuFraming>(options.unit);
    if (options.mode == "udp") return std::make_unique<UdpMbapFraming>(options.unit);
    return nullptr;
}

// A TCP connection, or a UDP socket connected to the server so that send
// and recv reach only it.
int connectTo(const Options& options, bool datagram) {
    const int fd = socket(AF_INET, datagram ? SOCK_DGRAM : SOCK_STREAM, 0);
    if (fd < 0) return -1;
    const int one = 1;
    if (!datagram) setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(options.port));
    inet_pton(AF_INET, options.host.c_str(), &address.sin_addr);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// The master's TLS context: the PKI's CA and the "operator" certificate.
SSL_CTX* makeTlsContext(const std::string& pki) {
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (context == nullptr || SSL_CTX_load_verify_locations(context, (pki + "/ca.pem").c_str(), nullptr) != 1 ||
        SSL_CTX_use_certificate_chain_file(context, (pki + "/operator.pem").c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context, (pki + "/operator.key").c_str(), SSL_FILETYPE_PEM) != 1) {
        ERR_print_errors_fp(stderr);
        SSL_CTX_free(context);
        return nullptr;
    }
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    return context;
}

// The TLS handshake on the connected socket (blocking), resuming `session`
// when given.
bool startTls(Connection& connection, SSL_CTX* context, SSL_SESSION* session = nullptr) {
    connection.tls = SSL_new(context);
    if (connection.tls == nullptr) return false;
    if (session != nullptr) SSL_set_session(connection.tls, session);
    SSL_set_fd(connection.tls, connection.fd);
    SSL_set_tlsext_host_name(connection.tls, "localhost");
    if (SSL_connect(connection.tls) == 1) return true;
    ERR_print_errors_fp(stderr);
    return false;
}

void closeConnection(Connection& connection) {
    if (connection.tls != nullptr) {
        SSL_shutdown(connection.tls);
        SSL_free(connection.tls);
        connection.tls = nullptr;
    }
    if (connection.fd >= 0) close(connection.fd);
    connection.fd = -1;
}

long receiveSome(Connection& connection, std::uint8_t* into, std::size_t capacity) {
    if (connection.tls == nullptr) return recv(connection.fd, into, capacity, 0);
    std::size_t got = 0;
    return SSL_read_ex(connection.tls, into, capacity, &got) == 1 ? static_cast<long>(got) : -1;
}

bool sendRequest(Connection& connection, const Framing& framing, bool resend = false) {
    std::uint8_t request[300];
    ++connection.sequence;
    const std::size_t length = framing.encodeRequest(request, connection.sequence);
    connection.received = 0;
    connection.lastSentAt = Clock::now();
    if (!resend) connection.sentAt = connection.lastSentAt;
    if (connection.tls != nullptr) {
        std::size_t written = 0;
        return SSL_write_ex(connection.tls, request, length, &written) == 1 && written == length;
    }
    return send(connection.fd, request, length, MSG_NOSIGNAL) == static_cast<ssize_t>(length);
}

// One request and its whole reply on a connection, blocking.
bool pingPong(Connection& connection, const Framing& framing) {
    if (!sendRequest(connection, framing)) return false;
    while (connection.received < framing.replyLength()) {
        const long got = receiveSome(connection, connection.reply + connection.received,
                                     framing.replyLength() - connection.received);
        if (got <= 0) return false;
        connection.received += static_cast<std::size_t>(got);
    }
    return framing.isReply(connection.reply, connection.sequence);
}

double percentile(std::vector<double>& sorted, double fraction) {
    if (sorted.empty()) return 0;
    const std::size_t index = static_cast<std::size_t>(fraction * static_cast<double>(sorted.size() - 1));
    return sorted[index];
}

// tls-handshake: connections one after the other, each a handshake (full,
// or resuming the first connection's session), one request and the close.
int runHandshakes(const Options& options, const Framing& framing, SSL_CTX* context) {
    SSL_SESSION* session = nullptr;
    if (options.resume) {
        // The session (TLS 1.3: its ticket, read with the first reply).
        Connection first;
        first.fd = connectTo(options, false);
        if (first.fd < 0 || !startTls(first, context) || !pingPong(first, framing)) return 1;
        session = SSL_get1_session(first.tls);
        closeConnection(first);
    }
    std::vector<double> latenciesUs;
    const Clock::time_point start = Clock::now();
    const Clock::time_point measureFrom =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.warmup));
    const Clock::time_point end =
        measureFrom + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.seconds));
    long completed = 0, total = 0, errors = 0, notResumed = 0;
    while (Clock::now() < end) {
        const Clock::time_point begun = Clock::now();
        Connection connection;
        connection.fd = connectTo(options, false);
        const bool served = connection.fd >= 0 && startTls(connection, context, session) && pingPong(connection, framing);
        if (served && options.resume && SSL_session_reused(connection.tls) != 1) ++notResumed;
        closeConnection(connection);
        ++total;
        if (!served) {
            ++errors;
            break;
        }
        const Clock::time_point now = Clock::now();
        if (begun >= measureFrom) {
            ++completed;
            latenciesUs.push_back(std::chrono::duration<double, std::micro>(now - begun).count());
        }
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - measureFrom).count();
    SSL_SESSION_free(session);
    std::sort(latenciesUs.begin(), latenciesUs.end());
    std::printf("mode=%s resumed=%d connections=1 requests=%ld total=%ld errors=%ld not_resumed=%ld "
                "rps=%.0f p50_us=%.1f p99_us=%.1f\n",
                options.mode.c_str(), options.resume ? 1 : 0, completed, total, errors, notResumed,
                static_cast<double>(completed) / elapsed, percentile(latenciesUs, 0.50),
                percentile(latenciesUs, 0.99));
    return errors == 0 && notResumed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: %s --mode tcp|rtutcp|udp|tls|tls-handshake --port P [--host H] [--connections N] "
                     "[--seconds S] [--warmup S] [--unit U] [--retry-ms R] [--pki DIR] [--resume 0|1]\n",
                     argv[0]);
        return 2;
    }
    const std::unique_ptr<Framing> framing = makeFraming(options);
    if (!framing) {
        std::fprintf(stderr, "unknown mode %s\n", options.mode.c_str());
        return 2;
    }

    const bool tls = options.mode == "tls" || options.mode == "tls-handshake";
    SSL_CTX* context = tls ? makeTlsContext(options.pki) : nullptr;
    if (tls && context == nullptr) {
        std::fprintf(stderr, "no TLS context (--pki names the PKI folder)\n");
        return 2;
    }
    if (options.mode == "tls-handshake") {
        const int status = runHandshakes(options, *framing, context);
        SSL_CTX_free(context);
        return status;
    }

    std::vector<Connection> connections(static_cast<std::size_t>(options.connections));
    std::vector<pollfd> waitSet;
    for (Connection& connection : connections) {
        connection.fd = connectTo(options, framing->isDatagram());
        if (connection.fd < 0) {
            std::perror("connect");
            return 1;
        }
        if (tls && !startTls(connection, context)) return 1;
        waitSet.push_back(pollfd{connection.fd, POLLIN, 0});
    }

    std::vector<double> latenciesUs;
    latenciesUs.reserve(4'000'000);
    const Clock::time_point start = Clock::now();
    const Clock::time_point measureFrom =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.warmup));
    const Clock::time_point end =
        measureFrom + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.seconds));
    long completed = 0;
    long total = 0;
    long errors = 0;
    long lost = 0;
    long stale = 0;
    const bool datagram = framing->isDatagram();
    const auto retryAfter = std::chrono::milliseconds(options.retryMs);

    for (Connection& connection : connections) {
        if (!sendRequest(connection, *framing)) return 1;
    }
    while (Clock::now() < end) {
        const int ready = poll(waitSet.data(), waitSet.size(), datagram ? options.retryMs : 1000);
        if (ready < 0) {
            std::perror("poll");
            return 1;
        }
        if (ready == 0 && !datagram) {
            std::fprintf(stderr, "no reply for 1 s\n");
            return 1;
        }
        if (datagram) {
            // A datagram or its reply may be lost: ask again.
            const Clock::time_point now = Clock::now();
            for (Connection& connection : connections) {
                if (now - connection.lastSentAt < retryAfter) continue;
                ++lost;
                if (!sendRequest(connection, *framing, true)) return 1;
            }
        }
        for (std::size_t i = 0; i < connections.size(); ++i) {
            if ((waitSet[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
            Connection& connection = connections[i];
            const std::size_t wanted = framing->replyLength();
            const long got = receiveSome(connection, connection.reply + connection.received,
                                         wanted - connection.received);
            if (got <= 0) {
                std::fprintf(stderr, "connection %zu closed by the server\n", i);
                return 1;
            }
            connection.received += static_cast<std::size_t>(got);
            if (datagram && !framing->isReply(connection.reply, connection.sequence)) {
                ++stale;  // the reply to a request that was asked again
                connection.received = 0;
                continue;
            }
            if (connection.received < wanted) continue;
            const Clock::time_point now = Clock::now();
            ++total;
            if (!framing->isReply(connection.reply, connection.sequence)) ++errors;
            if (now >= measureFrom) {
                ++completed;
                latenciesUs.push_back(std::chrono::duration<double, std::micro>(now - connection.sentAt).count());
            }
            if (!sendRequest(connection, *framing)) return 1;
        }
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - measureFrom).count();
    for (Connection& connection : connections) closeConnection(connection);
    SSL_CTX_free(context);

    std::sort(latenciesUs.begin(), latenciesUs.end());
    std::printf("mode=%s connections=%d requests=%ld total=%ld errors=%ld lost=%ld stale=%ld "
                "rps=%.0f p50_us=%.1f p99_us=%.1f\n",
                options.mode.c_str(), options.connections, completed, total, errors, lost, stale,
                static_cast<double>(completed) / elapsed, percentile(latenciesUs, 0.50),
                percentile(latenciesUs, 0.99));
    return errors == 0 ? 0 : 1;
}

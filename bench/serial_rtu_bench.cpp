// Modbus RTU slave on a pseudo-terminal, measured from the master side:
// reply latency (request's last byte written -> reply's first byte
// readable; median and p99) at 9600, 19200 and 115200 baud next to the
// silent interval, requests per second at 115200 baud, and the server's
// system calls per request (strace -c -f) for a 125-register read and a
// 123-register write. libmodbus's RTU server runs the same requests in the
// same run as the baseline; it answers at once instead of waiting for a
// silent line.
//
// Usage: serial_rtu_bench <mbslave server> <libmodbus server> [requests]
//   mbslave server: tests/interop/serial_interop_server.c (built here as
//   rtu_bench_server), started as "<server> rtu <device> <baud>";
//   libmodbus server: libmodbus_rtu_server.c, "<server> <device> <baud>".
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/rtu_frame_bytes.hpp"
#include "serial/rtu_frame.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

Bytes withCrc(Bytes frame) {
    const int length = static_cast<int>(frame.size());
    frame.resize(frame.size() + 2);
    mbslave::appendCrc16(frame.data(), length);
    return frame;
}

Bytes readRegisters(int count) {
    return withCrc({0x01, 0x03, 0x00, 0x00, 0x00, static_cast<std::uint8_t>(count)});
}

Bytes writeRegisters(int count) {
    Bytes frame{0x01, 0x10, 0x00, 0x00, 0x00, static_cast<std::uint8_t>(count),
                static_cast<std::uint8_t>(2 * count)};
    for (int i = 0; i < 2 * count; ++i) frame.push_back(static_cast<std::uint8_t>(i));
    return withCrc(frame);
}

std::size_t replyLength(const Bytes& request) {
    return request[1] == 0x03 ? 5u + 2u * request[5] : 8u;
}

// A server process on the slave side of a fresh pty pair; the bench holds
// the master side.
class ServerOnPty {
public:
    ServerOnPty(const std::vector<std::string>& command, int baudRate, const std::string& straceFile) {
        int slave = -1;
        char name[128] = {};
        if (openpty(&master_, &slave, name, nullptr, nullptr) != 0) fail("openpty");
        int ready[2];
        if (pipe(ready) != 0) fail("pipe");
        pid_ = fork();
        if (pid_ == 0) {
            dup2(ready[1], STDOUT_FILENO);
            const int quiet = ::open("/dev/null", O_WRONLY);  // the server's closing words
            if (quiet >= 0) dup2(quiet, STDERR_FILENO);
            ::close(ready[0]);
            ::close(master_);
            ::close(slave);
            std::vector<std::string> argv;
            if (!straceFile.empty()) argv = {"strace", "-c", "-f", "-o", straceFile};
            argv.insert(argv.end(), command.begin(), command.end());
            argv.push_back(name);
            argv.push_back(std::to_string(baudRate));
            std::vector<char*> args;
            for (std::string& argument : argv) args.push_back(argument.data());
            args.push_back(nullptr);
            execvp(args[0], args.data());
            _exit(127);
        }
        ::close(ready[1]);
        ::close(slave);
        // The server puts the line into raw mode before it reports ready.
        std::string output;
        char chunk[256];
        ssize_t n;
        while (output.find("READY") == std::string::npos && (n = ::read(ready[0], chunk, sizeof chunk)) > 0) {
            output.append(chunk, static_cast<std::size_t>(n));
        }
        ::close(ready[0]);
        if (output.find("READY") == std::string::npos) fail("server did not start");
    }
    ~ServerOnPty() { stop(); }

    // Hangs the line up, which ends the server's loop, and waits for it.
    void stop() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
        if (pid_ > 0) {
            int status = 0;
            waitpid(pid_, &status, 0);
        }
        pid_ = -1;
    }

    // Sends the request in one write; returns the time from the write to
    // the first reply byte in microseconds (negative: no reply).
    double exchange(const Bytes& request) {
        if (::write(master_, request.data(), request.size()) != static_cast<ssize_t>(request.size())) {
            fail("write");
        }
        const auto sent = Clock::now();
        pollfd line{master_, POLLIN, 0};
        if (poll(&line, 1, 1000) <= 0) return -1;
        const auto answered = Clock::now();
        std::size_t received = 0;
        std::uint8_t reply[512];
        const std::size_t wanted = replyLength(request);
        while (received < wanted) {
            if (poll(&line, 1, 1000) <= 0) return -1;
            const ssize_t n = ::read(master_, reply + received, wanted - received);
            if (n <= 0) return -1;
            received += static_cast<std::size_t>(n);
        }
        return std::chrono::duration<double, std::micro>(answered - sent).count();
    }

    // Sends the request in two writes with a gap of gapUs between them
    // (spun, not slept, for precision); true if the slave answered, that is,
    // took both pieces for one frame.
    bool exchangeSplit(const Bytes& request, std::size_t splitAt, double gapUs) {
        const auto gap = std::chrono::duration<double, std::micro>(gapUs);
        const ssize_t first = ::write(master_, request.data(), splitAt);
        const auto written = Clock::now();
        while (Clock::now() - written < gap) {
        }
        const ssize_t second = ::write(master_, request.data() + splitAt, request.size() - splitAt);
        if (first != static_cast<ssize_t>(splitAt) || second != static_cast<ssize_t>(request.size() - splitAt)) {
            fail("write");
        }
        pollfd line{master_, POLLIN, 0};
        if (poll(&line, 1, 50) <= 0) return false;
        std::uint8_t reply[512];
        std::size_t received = 0;
        while (received < replyLength(request) && poll(&line, 1, 100) > 0) {
            const ssize_t n = ::read(master_, reply + received, sizeof reply - received);
            if (n <= 0) break;
            received += static_cast<std::size_t>(n);
        }
        return true;
    }

private:
    static void fail(const char* what) {
        std::fprintf(stderr, "serial_rtu_bench: %s failed\n", what);
        std::exit(1);
    }
    int master_ = -1;
    pid_t pid_ = -1;
};

struct Latency {
    double medianUs, p99Us, minUs, maxUs;
    int lost;
};

Latency measureLatency(ServerOnPty& server, const Bytes& request, int requests) {
    std::vector<double> samples;
    int lost = 0;
    for (int i = 0; i < requests; ++i) {
        const double us = server.exchange(request);
        if (us < 0) {
            ++lost;
        } else {
            samples.push_back(us);
        }
    }
    if (samples.empty()) return {0, 0, 0, 0, lost};
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2], samples[samples.size() * 99 / 100], samples.front(),
            samples.back(), lost};
}

// Calls per syscall name and in total from an strace -c summary file.
std::vector<std::pair<std::string, long>> straceCalls(const std::string& file) {
    std::vector<std::pair<std::string, long>> calls;
    std::ifstream summary(file);
    std::string line;
    while (std::getline(summary, line)) {
        std::istringstream fields(line);
        std::vector<std::string> words;
        for (std::string word; fields >> word;) words.push_back(word);
        // "% time seconds usecs/call calls [errors] syscall"
        if (words.size() < 5 || words[0].find_first_not_of("0123456789.") != std::string::npos) continue;
        calls.emplace_back(words.back(), std::atol(words[3].c_str()));
    }
    return calls;
}

bool haveStrace() { return std::system("strace -V > /dev/null 2>&1") == 0; }

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <mbslave server> <libmodbus server> [requests]\n", argv[0]);
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    const int requests = argc > 3 ? std::max(200, std::atoi(argv[3])) : 300;
    struct Server {
        const char* name;
        std::vector<std::string> command;
    };
    const Server servers[] = {{"mbslave", {argv[1], "rtu"}}, {"libmodbus", {argv[2]}}};

    std::printf("Reply latency on a pty, read of 1 register, %d requests per row (us)\n", requests);
    std::printf("%-10s %7s %9s %9s %8s %8s %8s %8s %5s\n", "server", "baud", "interval", "+1 ms",
                "median", "p99", "min", "max", "lost");
    for (const Server& server : servers) {
        for (int baud : {9600, 19200, 115200}) {
            const int interval = mbslave::rtuSilentInterval(baud, 0);
            ServerOnPty line(server.command, baud, "");
            const Latency latency = measureLatency(line, readRegisters(1), requests);
            std::printf("%-10s %7d %9d %9d %8.0f %8.0f %8.0f %8.0f %5d\n", server.name, baud, interval,
                        interval + 1000, latency.medianUs, latency.p99Us, latency.minUs, latency.maxUs,
                        latency.lost);
        }
    }

    std::printf("\nGap inside a frame that ends it (mbslave): 3 bytes, gap, 5 bytes; share of\n"
                "frames taken whole (answered) out of 20 per gap, gap relative to the interval (us)\n");
    std::printf("%7s %9s", "baud", "interval");
    const double offsets[] = {-1500, -1000, -500, -250, -100, 0, 100, 250, 500, 1000};
    for (double offset : offsets) std::printf(" %6.0f", offset);
    std::printf("\n");
    for (int baud : {9600, 115200}) {
        const int interval = mbslave::rtuSilentInterval(baud, 0);
        ServerOnPty line(servers[0].command, baud, "");
        std::printf("%7d %9d", baud, interval);
        for (double offset : offsets) {
            int whole = 0;
            for (int trial = 0; trial < 20; ++trial) {
                whole += line.exchangeSplit(readRegisters(1), 3, interval + offset) ? 1 : 0;
            }
            std::printf(" %5d%%", whole * 5);
        }
        std::printf("\n");
    }

    const int throughputRequests = 5 * requests;
    std::printf("\nRequests per second at 115200 baud, %d back-to-back requests\n", throughputRequests);
    std::printf("%-10s %14s %14s\n", "server", "1 register", "125 registers");
    for (const Server& server : servers) {
        double rates[2];
        int column = 0;
        for (int count : {1, 125}) {
            ServerOnPty line(server.command, 115200, "");
            const Bytes request = readRegisters(count);
            const auto start = Clock::now();
            int answered = 0;
            for (int i = 0; i < throughputRequests; ++i) answered += line.exchange(request) >= 0 ? 1 : 0;
            const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
            rates[column++] = answered / seconds;
        }
        std::printf("%-10s %14.0f %14.0f\n", server.name, rates[0], rates[1]);
    }

    if (!haveStrace()) {
        std::printf("\nstrace not found: system calls per request not measured\n");
        return 0;
    }
    std::printf("\nServer system calls per request at 115200 baud (strace -c -f, %d requests, start-up "
                "included)\n", requests);
    std::printf("%-10s %-22s %9s %9s %9s  %s\n", "server", "request", "bytes in", "calls",
                "per byte", "busiest calls per request");
    char straceFile[] = "/tmp/serial_rtu_bench_strace_XXXXXX";
    const int fd = mkstemp(straceFile);
    if (fd >= 0) ::close(fd);
    struct Workload {
        const char* name;
        Bytes request;
    };
    const Workload workloads[] = {{"read 125 registers", readRegisters(125)},
                                  {"write 123 registers", writeRegisters(123)}};
    for (const Server& server : servers) {
        for (const Workload& workload : workloads) {
            {
                ServerOnPty line(server.command, 115200, straceFile);
                for (int i = 0; i < requests; ++i) line.exchange(workload.request);
            }
            auto calls = straceCalls(straceFile);
            long total = 0;
            for (const auto& entry : calls) {
                if (entry.first == "total") total = entry.second;
            }
            calls.erase(std::remove_if(calls.begin(), calls.end(),
                                       [](const auto& entry) { return entry.first == "total"; }),
                        calls.end());
            std::sort(calls.begin(), calls.end(),
                      [](const auto& a, const auto& b) { return a.second > b.second; });
            std::string busiest;
            for (std::size_t i = 0; i < calls.size() && i < 5; ++i) {
                char part[64];
                std::snprintf(part, sizeof part, "%s%s %.2f", i == 0 ? "" : ", ", calls[i].first.c_str(),
                              static_cast<double>(calls[i].second) / requests);
                busiest += part;
            }
            const double perRequest = static_cast<double>(total) / requests;
            std::printf("%-10s %-22s %9zu %9.2f %9.3f  %s\n", server.name, workload.name,
                        workload.request.size(), perRequest, perRequest / workload.request.size(),
                        busiest.c_str());
        }
    }
    std::remove(straceFile);
    return 0;
}

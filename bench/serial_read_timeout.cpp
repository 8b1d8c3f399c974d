// How exactly a serial read time-out is kept: SerialPort::readByte on a
// pseudo-terminal with microsecond time-outs, side by side with the
// millisecond way (poll with the time-out rounded up to whole ms) on the
// same line in the same run. Prints the wait beyond the requested time.
#include <poll.h>
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "serial/serial_port.hpp"

namespace {

using Clock = std::chrono::steady_clock;

struct Summary {
    double medianUs, p99Us, maxUs;
    int early;  // waits shorter than requested
};

Summary summarise(std::vector<double> overshoots) {
    std::sort(overshoots.begin(), overshoots.end());
    Summary summary{};
    summary.medianUs = overshoots[overshoots.size() / 2];
    summary.p99Us = overshoots[overshoots.size() * 99 / 100];
    summary.maxUs = overshoots.back();
    summary.early = static_cast<int>(std::count_if(overshoots.begin(), overshoots.end(),
                                                   [](double v) { return v < 0; }));
    return summary;
}

template <typename Wait>
Summary measure(std::uint32_t timeoutUs, int rounds, Wait wait) {
    std::vector<double> overshoots;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        wait();
        const auto waited = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        overshoots.push_back(waited - timeoutUs);
    }
    return summarise(overshoots);
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(10, std::atoi(argv[1])) : 200;
    int master = -1;
    int slave = -1;
    char name[128] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    close(slave);
    mbslave::SerialPort port;
    if (port.open(name) != 0) {
        std::fprintf(stderr, "cannot open %s\n", name);
        return 1;
    }
    // A second descriptor on the same line for the millisecond baseline.
    const int baseline = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);

    std::printf("read time-out kept on a pty, %d rounds each; wait beyond the requested time in us\n",
                rounds);
    std::printf("%10s | %-34s | %-34s\n", "time-out", "mbslave readByte (us time-out)",
                "baseline poll (ms, rounded up)");
    std::printf("%10s | %8s %8s %8s %6s | %8s %8s %8s %6s\n", "us", "median", "p99", "max", "early",
                "median", "p99", "max", "early");
    for (std::uint32_t timeoutUs : {1u, 500u, 1000u, 1001u, 2000u, 2292u, 4583u, 9167u, 36667u}) {
        std::uint8_t byte = 0;
        const Summary ours = measure(timeoutUs, rounds, [&] { port.readByte(&byte, timeoutUs); });
        const int timeoutMs = static_cast<int>((timeoutUs + 999) / 1000);
        const Summary theirs = measure(timeoutUs, rounds, [&] {
            pollfd device{baseline, POLLIN, 0};
            poll(&device, 1, timeoutMs);
        });
        std::printf("%10u | %8.0f %8.0f %8.0f %6d | %8.0f %8.0f %8.0f %6d\n", timeoutUs,
                    ours.medianUs, ours.p99Us, ours.maxUs, ours.early, theirs.medianUs,
                    theirs.p99Us, theirs.maxUs, theirs.early);
    }
    ::close(baseline);
    port.close();
    ::close(master);
    return 0;
}

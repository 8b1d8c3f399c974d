// A pseudo-terminal pair for serial tests: the port under test opens the
// slave side by name; the test plays the other end of the line on the
// master side and watches the slave's settings through its own descriptor.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/open_descriptors.hpp"

namespace mbslave::test {

// The parts of a tty's settings that a port changes and must put back.
struct TtySettings {
    tcflag_t iflag, oflag, cflag, lflag;
    cc_t cc[NCCS];
    speed_t ispeed, ospeed;

    bool operator==(const TtySettings& other) const {
        return iflag == other.iflag && oflag == other.oflag && cflag == other.cflag &&
               lflag == other.lflag && std::memcmp(cc, other.cc, sizeof cc) == 0 &&
               ispeed == other.ispeed && ospeed == other.ospeed;
    }
    bool operator!=(const TtySettings& other) const { return !(*this == other); }
};

class PtyPair {
public:
    PtyPair() {
        char name[128] = {};
        if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
            throw std::runtime_error("openpty failed");
        }
        slaveName_ = name;
        fcntl(master_, F_SETFD, FD_CLOEXEC);
        fcntl(slave_, F_SETFD, FD_CLOEXEC);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;
    ~PtyPair() {
        closeMaster();
        if (slave_ >= 0) ::close(slave_);
    }

    const char* slaveName() const { return slaveName_.c_str(); }
    std::u16string wideSlaveName() const { return std::u16string(slaveName_.begin(), slaveName_.end()); }
    int master() const { return master_; }
    int slave() const { return slave_; }

    // The line goes away: the slave side hangs up.
    void closeMaster() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

    TtySettings slaveSettings() const {
        termios settings{};
        tcgetattr(slave_, &settings);
        TtySettings result{};
        result.iflag = settings.c_iflag;
        result.oflag = settings.c_oflag;
        result.cflag = settings.c_cflag;
        result.lflag = settings.c_lflag;
        std::memcpy(result.cc, settings.c_cc, sizeof result.cc);
        result.ispeed = cfgetispeed(&settings);
        result.ospeed = cfgetospeed(&settings);
        return result;
    }

    void send(const std::vector<std::uint8_t>& bytes) const {
        if (::write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
            throw std::runtime_error("write to pty master failed");
        }
    }

    // What arrives at the master side within the time limit, up to count bytes.
    std::vector<std::uint8_t> receive(std::size_t count, std::chrono::milliseconds limit) const {
        std::vector<std::uint8_t> bytes;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (bytes.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd device{master_, POLLIN, 0};
            if (poll(&device, 1, static_cast<int>(left.count())) <= 0) break;
            std::uint8_t chunk[4096];
            const std::size_t wanted = std::min(sizeof chunk, count - bytes.size());
            const ssize_t n = ::read(master_, chunk, wanted);
            if (n <= 0) break;
            bytes.insert(bytes.end(), chunk, chunk + n);
        }
        return bytes;
    }

    // Bytes the slave side has received and nobody has read yet.
    int pendingAtSlave() const {
        int pending = 0;
        ioctl(slave_, FIONREAD, &pending);
        return pending;
    }
    // The kernel moves bytes to the slave side asynchronously.
    bool waitUntilPendingAtSlave(int count) const {
        for (int i = 0; i < 1000 && pendingAtSlave() < count; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return pendingAtSlave() >= count;
    }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slaveName_;
};

// Whether the system takes rates without a Bnnn code on this tty (the
// kernel's termios2 interface; user-mode emulators may lack it).
bool systemHasTermios2(int fd);

}  // namespace mbslave::test

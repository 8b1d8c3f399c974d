#include "signals.hpp"

#include <csignal>
#include <cstring>

#include <pthread.h>
#include <sys/time.h>
#include <unistd.h>

namespace sim {

namespace {

volatile std::sig_atomic_t stopSignal = 0;

// Without SA_RESTART a signal interrupts the wait of the current server pass,
// which then returns at once. The alarm repeats the interruption every second
// for the case that the signal arrived just before the wait began.
void onStopSignal(int signal) {
    if (stopSignal == 0) stopSignal = signal;
    alarm(1);
}

void install(int signal, int flags) {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = &onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = flags;
    sigaction(signal, &action, nullptr);
}

}  // namespace

void installStopHandlers() {
    install(SIGINT, SA_RESETHAND);
    install(SIGTERM, SA_RESETHAND);
    install(SIGALRM, 0);
}

void scheduleStop(double seconds) {
    itimerval timer{};
    const auto micros = static_cast<long long>(seconds * 1e6);
    timer.it_value.tv_sec = static_cast<time_t>(micros / 1000000);
    timer.it_value.tv_usec = static_cast<suseconds_t>(micros % 1000000);
    if (timer.it_value.tv_sec == 0 && timer.it_value.tv_usec == 0) timer.it_value.tv_usec = 1;
    setitimer(ITIMER_REAL, &timer, nullptr);
}

void blockStopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGALRM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

bool stopRequested() { return stopSignal != 0; }

const char* stopReason() {
    switch (stopSignal) {
        case SIGINT: return "SIGINT";
        case SIGTERM: return "SIGTERM";
        case SIGALRM: return "--duration";
        default: return "request";
    }
}

}  // namespace sim

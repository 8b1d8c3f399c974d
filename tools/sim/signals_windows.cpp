#include "signals.hpp"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace sim {

namespace {

enum StopCause : LONG { kNone, kCtrlC, kConsoleClosed, kDuration };

// Set from the console's handler thread or the timer thread; the server loop
// reads it after every pass, whose wait the protocol time-out bounds.
volatile LONG stopCause = kNone;

// Windows ends the process as soon as the handler of a console close (or
// logoff, shutdown) returns, and at the latest after 5 s: the handler waits
// until the program has shut down and printed its summary (set at exit),
// for a little less than that.
constexpr DWORD kCloseWaitMs = 4500;
HANDLE finished = nullptr;

// The thread that runs the server loop: an APC queued to it ends a serial
// server's wait without limit (--timeout 0), as a signal does on POSIX.
HANDLE serverThread = nullptr;

VOID CALLBACK wakeServerLoop(ULONG_PTR) {}

void requestStop(LONG cause) {
    InterlockedCompareExchange(&stopCause, cause, kNone);
    if (serverThread != nullptr) QueueUserAPC(&wakeServerLoop, serverThread, 0);
}

void onExit() {
    std::fflush(nullptr);
    SetEvent(finished);
}

BOOL WINAPI onConsoleEvent(DWORD event) {
    const bool interrupt = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
    // A second Ctrl-C ends the program at once, as on POSIX.
    if (interrupt && stopCause != kNone) return FALSE;
    requestStop(interrupt ? kCtrlC : kConsoleClosed);
    if (!interrupt) WaitForSingleObject(finished, kCloseWaitMs);
    return TRUE;
}

VOID CALLBACK onDurationOver(PVOID, BOOLEAN) { requestStop(kDuration); }

}  // namespace

void installStopHandlers() {
    finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &serverThread, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    std::atexit(&onExit);
    SetConsoleCtrlHandler(&onConsoleEvent, TRUE);
}

void scheduleStop(double seconds) {
    HANDLE timer = nullptr;
    const auto milliseconds = static_cast<DWORD>(seconds * 1000.0);
    CreateTimerQueueTimer(&timer, nullptr, &onDurationOver, nullptr, milliseconds == 0 ? 1 : milliseconds, 0,
                          WT_EXECUTEONLYONCE);
}

// Console events arrive on a thread of their own: nothing to keep away.
void blockStopSignals() {}

bool stopRequested() { return stopCause != kNone; }

const char* stopReason() {
    switch (stopCause) {
        case kCtrlC: return "Ctrl-C";
        case kConsoleClosed: return "closing the console";
        case kDuration: return "--duration";
        default: return "request";
    }
}

}  // namespace sim

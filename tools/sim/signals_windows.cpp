#include "signals.hpp"

#include <windows.h>

namespace sim {

namespace {

enum StopCause : LONG { kNone, kCtrlC, kConsoleClosed, kDuration };

// Set from the console's handler thread or the timer thread; the server loop
// reads it after every pass, whose wait the protocol time-out bounds.
volatile LONG stopCause = kNone;

void requestStop(LONG cause) { InterlockedCompareExchange(&stopCause, cause, kNone); }

BOOL WINAPI onConsoleEvent(DWORD event) {
    // A second Ctrl-C ends the program at once, as on POSIX.
    if (stopCause != kNone) return FALSE;
    requestStop(event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? kCtrlC : kConsoleClosed);
    return TRUE;
}

VOID CALLBACK onDurationOver(PVOID, BOOLEAN) { requestStop(kDuration); }

}  // namespace

void installStopHandlers() { SetConsoleCtrlHandler(&onConsoleEvent, TRUE); }

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

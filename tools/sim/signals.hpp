// Stopping the simulator cleanly: Ctrl-C (SIGINT), SIGTERM or the end of
// --duration set a flag that the server loop checks after every pass. A
// second Ctrl-C or SIGTERM ends the program at once.
#pragma once

namespace sim {

void installStopHandlers();
// Requests a stop after the given number of seconds (> 0).
void scheduleStop(double seconds);

// Keeps the stop signals away from the calling thread and the threads it
// starts, so that they reach the thread whose wait they must interrupt.
void blockStopSignals();

bool stopRequested();
// "SIGINT", "SIGTERM" or "--duration": what asked for the stop.
const char* stopReason();

}  // namespace sim

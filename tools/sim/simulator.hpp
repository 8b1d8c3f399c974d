// One run of the simulator: model, server, loop, summary.
#pragma once

#include <string>

#include "options.hpp"

namespace sim {

// Runs until Ctrl-C, SIGTERM or --duration; returns the exit code.
int runSimulator(const SimOptions& options, const std::string& version);

}  // namespace sim

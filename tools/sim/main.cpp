// mbslave-sim: a Modbus slave simulator on top of libmbslave.
#include <cstdio>

#include "options.hpp"
#include "simulator.hpp"
#include "transport.hpp"
#include "wide_text.hpp"

int main(int argc, char** argv) {
    const std::string version = sim::toUtf8(mbusSlave_getPackageVersion());
    const auto outcome = sim::parseArguments(argc, argv, sim::availableTransports(), version);
    std::fputs(outcome.out.c_str(), stdout);
    std::fputs(outcome.err.c_str(), stderr);
    if (!outcome.options) return outcome.exitCode;
    return sim::runSimulator(*outcome.options, version);
}

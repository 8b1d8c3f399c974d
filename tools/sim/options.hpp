// Command line of mbslave-sim: one subcommand per transport and the options
// common to all of them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "unit_set.hpp"

namespace sim {

enum class Transport { Tcp, RtuOverTcp, Udp, Rtu, Ascii };

// Subcommand name ("tcp", "rtutcp", "udp", "rtu", "ascii").
const char* transportName(Transport transport);
bool isSerial(Transport transport);

struct SimOptions {
    Transport transport = Transport::Tcp;
    // IP transports
    std::string host = "127.0.0.1";
    std::uint16_t port = 0;
    std::optional<std::uint32_t> connectionTimeOutMs;
    // serial transports
    std::string device;
    int baud = 19200;
    int dataBits = 8;
    int stopBits = 1;
    int parity = 2;  // PARITY_EVEN, the Modbus default
    std::uint32_t rs485DelayMs = 0;
    // RTU: extra end-of-frame silence; unset: what the serial hardware calls
    // for (resolveFrameTolerance)
    std::optional<std::uint32_t> frameToleranceMs;
    // every transport
    UnitSet units;
    std::uint32_t timeOutMs = 1000;
    bool noExceptions = false;
    std::string mapFile;
    bool quiet = false;
    double durationS = 0;  // 0: until Ctrl-C or SIGTERM
    // the web page (--web [HOST:]PORT)
    std::string webHost = "127.0.0.1";
    std::uint16_t webPort = 0;  // 0: no web page
};

// Exit codes of the program.
constexpr int kExitOk = 0;
constexpr int kExitRunTime = 1;
constexpr int kExitUsage = 2;

struct ParseOutcome {
    std::optional<SimOptions> options;  // set when the simulator is to run
    int exitCode = kExitOk;             // otherwise: exit with this code
    std::string out;                    // text for stdout (help, version)
    std::string err;                    // text for stderr (usage errors)
};

// Parses the command line. Only the given transports are offered as
// subcommands; version is the library's package version.
ParseOutcome parseArguments(int argc, const char* const argv[], const std::vector<Transport>& available,
                            const std::string& version);

}  // namespace sim

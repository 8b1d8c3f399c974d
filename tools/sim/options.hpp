// Command line of mbslave-sim: one subcommand per transport and the options
// common to all of them. SimOptions holds every option with its default; the
// command line writes into it directly.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "library_limits.hpp"
#include "unit_set.hpp"

namespace sim {

enum class Transport { Tcp, RtuOverTcp, Udp, Rtu, Ascii, Tls };

// Subcommand name ("tcp", "rtutcp", "udp", "rtu", "ascii", "tls").
const char* transportName(Transport transport);
bool isSerial(Transport transport);
// The TCP kinds (tcp, rtutcp, tls), which hold connections.
bool holdsConnections(Transport transport);

struct SimOptions {
    // Idle connections close after a minute, so that masters that connect
    // and fall silent cannot hold every connection for ever.
    static constexpr std::uint32_t kDefaultConnectionTimeOutMs = 60000;

    Transport transport = Transport::Tcp;
    // IP transports
    std::string host = "127.0.0.1";
    std::uint16_t port = 0;  // after parsing: the transport's default port unless --port
    // tcp, rtutcp, tls: kDefaultConnectionTimeOutMs unless --conn-timeout
    std::optional<std::uint32_t> connectionTimeOutMs;
    // tls: the server's certificate chain and key, the CA of the masters'
    // certificates, and the role rules (empty: every master may do everything)
    std::string certificateFile;
    std::string keyFile;
    std::string caFile;
    std::string rolesFile;
    // serial transports
    std::string device;
    int baud = 19200;
    int dataBits = 8;  // ascii: 7 unless --databits
    int stopBits = 1;
    int parity = library::kDefaultParity;
    std::uint32_t rs485DelayMs = 0;
    // RTU: extra end-of-frame silence; unset: what the serial hardware calls
    // for (resolveFrameTolerance)
    std::optional<std::uint32_t> frameToleranceMs;
    // every transport
    UnitSet units = UnitSet(1u << 1);  // unit 1
    std::uint32_t timeOutMs = library::kDefaultTimeOutMs;
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

#include "options.hpp"

#include <cctype>
#include <map>
#include <sstream>

#include <CLI/CLI.hpp>

#include "number_text.hpp"

namespace sim {

namespace {

struct TransportInfo {
    Transport transport;
    const char* name;
    const char* description;
    std::uint16_t defaultPort;  // 0 for serial
    const char* example;
};

constexpr TransportInfo kTransports[] = {
    {Transport::Tcp, "tcp", "Modbus/TCP server", 5020,
     "mbslave-sim tcp                                  demo device as unit 1 on 127.0.0.1:5020\n"
     "  mbslave-sim tcp --host 0.0.0.0 --port 502 --units 1-10   all interfaces, port 502 (needs root)\n"},
    {Transport::RtuOverTcp, "rtutcp", "Modbus RTU frames over TCP", 1100,
     "mbslave-sim rtutcp --units all --quiet           RTU over TCP on 127.0.0.1:1100, every unit\n"},
    {Transport::Udp, "udp", "Modbus/TCP framing over UDP", 5020,
     "mbslave-sim udp --map plant.json --duration 60   UDP on 127.0.0.1:5020 for one minute\n"},
    {Transport::Rtu, "rtu", "Modbus RTU on a serial line", 0,
     "mbslave-sim rtu --device /dev/ttyUSB0 --baud 9600 --parity none --units 1,2\n"
     "  mbslave-sim rtu --device COM1 --rs485 2        /dev/ttyS0, RS-485 with 2 ms turnaround\n"},
    {Transport::Ascii, "ascii", "Modbus ASCII on a serial line", 0,
     "mbslave-sim ascii --device /dev/ttyUSB0 --baud 9600   7 data bits, even parity\n"},
    // Port 802, the standard one, needs root.
    {Transport::Tls, "tls", "Modbus/TCP Security: Modbus/TCP inside TLS, masters with client certificates", 8020,
     "mbslave-sim tls --cert server.pem --key server.key --ca ca.pem --roles roles.txt\n"
     "                                                   TLS on 127.0.0.1:8020, function codes per role\n"},
};

const TransportInfo& infoOf(Transport transport) {
    for (const auto& info : kTransports) {
        if (info.transport == transport) return info;
    }
    return kTransports[0];
}

std::string footer(const std::vector<Transport>& available) {
    std::string text = "Examples:\n";
    for (const auto& info : kTransports) {
        for (Transport transport : available) {
            if (transport == info.transport) text += std::string("  ") + info.example;
        }
    }
    text +=
        "\nThe demo device (without --map) has live input registers 0..3 (uptime s low/high,\n"
        "ramp, temperature), holding registers 0..9, coils 0..7, discrete inputs 0..1, file 1\n"
        "and identification objects; writes are kept. Try it from another terminal:\n"
        "  mbpoll -m tcp -p 5020 -a 1 -t 3 -r 1 -c 4 127.0.0.1\n"
        "\nExit codes: 0 stopped by Ctrl-C, SIGTERM or --duration; 1 run-time failure\n"
        "(port in use, device busy, ...); 2 bad arguments or map file.\n";
    return text;
}

// A whole number of low..high as parseWholeNumber reads it, handed on to
// CLI11 in decimal.
CLI::Validator wholeNumber(long low, long high) {
    return CLI::Validator(
        [low, high](std::string& text) {
            const auto value = parseNumberIn(text, low, high);
            if (!value) return "'" + text + "' is not a whole number of " + std::to_string(low) + ".." +
                               std::to_string(high);
            text = std::to_string(*value);
            return std::string();
        },
        std::to_string(low) + ".." + std::to_string(high));
}

const std::map<std::string, int> kParityNames{{"none", PARITY_NONE}, {"odd", PARITY_ODD}, {"even", PARITY_EVEN},
                                              {"n", PARITY_NONE},    {"o", PARITY_ODD},   {"e", PARITY_EVEN}};

// --parity's name (any case) -> its number; a plain message for anything else.
std::string parityNumber(std::string& text) {
    std::string name;
    for (unsigned char c : text) name += static_cast<char>(std::tolower(c));
    const auto found = kParityNames.find(name);
    if (found == kParityNames.end()) return "'" + text + "' is not none, odd or even";
    text = std::to_string(found->second);
    return std::string();
}

void addIpOptions(CLI::App& command, SimOptions& options, const TransportInfo& info) {
    command.add_option("--host", options.host, "address or name of this machine to listen on (0.0.0.0: all)")
        ->capture_default_str();
    command.add_option("--port", options.port, "port to listen on")
        ->transform(wholeNumber(1, 65535))
        ->default_str(std::to_string(info.defaultPort));
}

void addTlsOptions(CLI::App& command, SimOptions& options) {
    command.add_option("--cert", options.certificateFile, "the server's certificate chain (PEM, its own first)")
        ->required();
    command.add_option("--key", options.keyFile, "the server's private key (PEM, unencrypted)")->required();
    command.add_option("--ca", options.caFile, "CA certificates (PEM) that the masters' certificates chain to")
        ->required();
    command.add_option("--roles", options.rolesFile,
                       "rules file, one line per role: 'monitor: 1 2 3 4', 'operator: *', '-: 3' for masters "
                       "without a role; unlisted roles may do nothing (default: every master everything)");
}

void addSerialOptions(CLI::App& command, SimOptions& options, Transport transport) {
    command.add_option("--device", options.device, "serial device: /dev/ttyUSB0, /dev/ttyS0, COM1 (= /dev/ttyS0)")
        ->required();
    command.add_option("--baud", options.baud, "baud rate")->transform(wholeNumber(50, 4000000))->capture_default_str();
    command.add_option("--databits", options.dataBits, "data bits")->transform(wholeNumber(7, 8))->capture_default_str();
    command.add_option("--stopbits", options.stopBits, "stop bits")->transform(wholeNumber(1, 2))->capture_default_str();
    command.add_option("--parity", options.parity, "parity: none, odd or even (default even; a pseudo-terminal "
                                                   "takes none only)")
        ->transform(CLI::Validator(parityNumber, "none|odd|even"));
    command.add_option("--rs485", options.rs485DelayMs,
                       "RS-485 mode: RTS switches the transmitter, held MS ms after each reply (0: off)")
        ->transform(wholeNumber(0, library::kMaxRs485DelayMs));
    if (transport == Transport::Rtu) {
        command
            .add_option("--tolerance", options.frameToleranceMs,
                        "extra silence in ms that ends a frame, 0.." + std::to_string(library::kMaxFrameToleranceMs) +
                            " (default: what the USB adapter's latency timer or the UART's receive trigger in "
                            "sysfs calls for)")
            ->transform(wholeNumber(0, library::kMaxFrameToleranceMs));
    }
}

// "8080", "HOST:8080" (HOST an IPv4 address or a name) or "[IPv6]:8080".
bool parseWebEndpoint(const std::string& text, std::string& host, std::uint16_t& port) {
    const auto colon = text.rfind(':');
    const std::string portText = colon == std::string::npos ? text : text.substr(colon + 1);
    if (colon != std::string::npos) {
        if (colon == 0) return false;
        host = text.substr(0, colon);
        if (host.front() == '[' || host.back() == ']') {
            if (host.size() < 3 || host.front() != '[' || host.back() != ']') return false;
            host = host.substr(1, host.size() - 2);
        } else if (host.find(':') != std::string::npos) {
            return false;  // an IPv6 address needs its brackets
        }
    }
    const auto value = parseNumberIn(portText, 1, 65535);
    if (!value) return false;
    port = static_cast<std::uint16_t>(*value);
    return true;
}

std::string usageError(const std::string& message) {
    return "mbslave-sim: error: " + message + "\nRun 'mbslave-sim --help' for the options and examples.\n";
}

}  // namespace

const char* transportName(Transport transport) { return infoOf(transport).name; }

bool isSerial(Transport transport) { return transport == Transport::Rtu || transport == Transport::Ascii; }

bool holdsConnections(Transport transport) {
    return transport == Transport::Tcp || transport == Transport::RtuOverTcp || transport == Transport::Tls;
}

namespace {

// The options as the command line writes them, and the texts that are
// checked once the line is parsed.
struct ParsedArguments {
    SimOptions options;
    std::optional<std::string> units;
    std::string web;  // empty: no web page
    std::vector<std::pair<Transport, CLI::App*>> commands;
    std::string connectionKinds;  // "tcp and rtutcp": the offered transports that hold connections
};

// "tcp, rtutcp and tls" (lastSeparator " and "): the names of the offered
// transports that hold connections.
std::string connectionKindNames(const std::vector<Transport>& available, const char* lastSeparator) {
    std::vector<const char*> names;
    for (Transport transport : available) {
        if (holdsConnections(transport)) names.push_back(transportName(transport));
    }
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += i + 1 == names.size() ? lastSeparator : ", ";
        text += names[i];
    }
    return text;
}

void defineCommandLine(CLI::App& app, ParsedArguments& parsed, const std::vector<Transport>& available,
                       const std::string& version) {
    app.set_version_flag("--version", "mbslave-sim " + version);
    app.fallthrough();
    app.require_subcommand(1);
    app.footer(footer(available));

    SimOptions& options = parsed.options;
    parsed.connectionKinds = connectionKindNames(available, " and ");
    app.add_option("--units", parsed.units, "slave addresses to serve: 1,2,10-20 or all (serial: 1..255)")
        ->default_str(formatRanges(options.units));
    app.add_option("--timeout", options.timeOutMs,
                   "protocol time-out in ms: longest wait of one server pass and master supervision period "
                   "(0: wait without limit, no supervision)")
        ->transform(wholeNumber(0, library::kMaxTimeOutMs))
        ->capture_default_str();
    app.add_option("--conn-timeout", options.connectionTimeOutMs,
                   connectionKindNames(available, ", ") + ": close a connection idle for MS ms (0: never; default " +
                       std::to_string(SimOptions::kDefaultConnectionTimeOutMs) + ")")
        ->transform(wholeNumber(0, library::kMaxConnectionTimeOutMs));
    app.add_flag("--no-exceptions", options.noExceptions, "send no reply instead of an exception response");
    app.add_option("--map", options.mapFile, "JSON file with the initial values of the units");
    app.add_flag("--quiet", options.quiet, "no line per request, connection or time-out");
    app.add_option("--duration", options.durationS, "stop after S seconds (default: until Ctrl-C)")
        ->check(CLI::Range(0.0, 31536000.0));
    app.add_option("--web", parsed.web,
                   "serve a web page with live tables, request log and edits on [HOST:]PORT "
                   "(HOST default 127.0.0.1: every local user can change every value, other web sites "
                   "cannot; 0.0.0.0: anyone who reaches the port can)");

    for (Transport transport : available) {
        const TransportInfo& info = infoOf(transport);
        CLI::App* command = app.add_subcommand(info.name, info.description);
        if (isSerial(transport)) {
            addSerialOptions(*command, options, transport);
        } else {
            addIpOptions(*command, options, info);
        }
        if (transport == Transport::Tls) addTlsOptions(*command, options);
        parsed.commands.emplace_back(transport, command);
    }
}

ParseOutcome usageFailure(const std::string& message) {
    ParseOutcome outcome;
    outcome.exitCode = kExitUsage;
    outcome.err = usageError(message);
    return outcome;
}

// Checks the options against each other and fills in the defaults that
// depend on the transport.
ParseOutcome finishOptions(ParsedArguments& parsed) {
    SimOptions& options = parsed.options;
    const CLI::App* chosen = nullptr;
    for (const auto& [transport, command] : parsed.commands) {
        if (command->parsed()) {
            options.transport = transport;
            chosen = command;
        }
    }
    const bool serialLine = isSerial(options.transport);
    if (parsed.units) {
        std::string error;
        const auto units = parseUnitList(*parsed.units, serialLine, error);
        if (!units) return usageFailure("--units: " + error);
        options.units = *units;
    }
    const bool connectionKind = holdsConnections(options.transport);
    if (options.connectionTimeOutMs && !connectionKind) {
        return usageFailure("--conn-timeout applies to " + parsed.connectionKinds + " only");
    }
    if (connectionKind && !options.connectionTimeOutMs) {
        options.connectionTimeOutMs = SimOptions::kDefaultConnectionTimeOutMs;
    }
    // ASCII framing is 7 data bits by the standard, RTU framing needs 8.
    if (options.transport == Transport::Ascii && chosen->count("--databits") == 0) options.dataBits = 7;
    if (options.transport == Transport::Rtu && options.dataBits != 8) {
        return usageFailure("--databits: RTU framing needs 8 data bits");
    }
    if (!serialLine && options.host.empty()) {
        return usageFailure("--host: empty; give an address of this machine (0.0.0.0 listens on every interface)");
    }
    if (options.port == 0) options.port = infoOf(options.transport).defaultPort;
    if (!parsed.web.empty() && !parseWebEndpoint(parsed.web, options.webHost, options.webPort)) {
        return usageFailure("--web: '" + parsed.web + "' is not [HOST:]PORT with a PORT of 1..65535 "
                            "(an IPv6 HOST in brackets: [::1]:8080)");
    }
    ParseOutcome outcome;
    outcome.options = options;
    return outcome;
}

}  // namespace

ParseOutcome parseArguments(int argc, const char* const argv[], const std::vector<Transport>& available,
                            const std::string& version) {
    CLI::App app{"mbslave-sim: a Modbus slave simulator built on libmbslave.\n"
                 "Serves a demo device (or the values of a map file) to any Modbus master.",
                 "mbslave-sim"};
    ParsedArguments parsed;
    defineCommandLine(app, parsed, available, version);

    std::vector<std::string> arguments;
    for (int i = argc - 1; i > 0; --i) arguments.emplace_back(argv[i]);  // CLI11 takes them reversed
    try {
        app.parse(arguments);
    } catch (const CLI::Success& request) {  // --help, --version
        ParseOutcome outcome;
        std::ostringstream out, err;
        outcome.exitCode = app.exit(request, out, err);
        outcome.out = out.str();
        return outcome;
    } catch (const CLI::ExtrasError&) {
        // Named in the order given (CLI11's own message has them reversed, as it took them).
        std::string message = "not expected:";
        for (const auto& word : app.remaining(true)) message += " " + word;
        return usageFailure(message);
    } catch (const CLI::ParseError& fault) {
        std::string message = fault.what();
        if (message.find("subcommand") != std::string::npos && message.find("required") != std::string::npos) {
            message = "name the transport first: mbslave-sim TRANSPORT [options], TRANSPORT one of";
            for (Transport transport : available) message += std::string(" ") + transportName(transport);
        }
        return usageFailure(message);
    }
    return finishOptions(parsed);
}

}  // namespace sim

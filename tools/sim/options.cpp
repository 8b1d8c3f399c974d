#include "options.hpp"

#include <cctype>
#include <charconv>
#include <map>
#include <sstream>

#include <CLI/CLI.hpp>

namespace sim {

namespace {

constexpr std::uint32_t kMaxTimeOutMs = 100000;
constexpr std::uint32_t kMaxConnectionTimeOutMs = 3600000;
// Idle connections close after a minute, so that masters that connect and
// fall silent cannot hold every one of the 32 connections for ever.
constexpr std::uint32_t kDefaultConnectionTimeOutMs = 60000;
constexpr std::uint32_t kMaxRs485DelayMs = 100000;
constexpr std::uint32_t kMaxFrameToleranceMs = 20;

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

// Options that exist on every subcommand's parent (usable after the subcommand).
struct CommonArguments {
    std::string units = "1";
    std::uint32_t timeOutMs = 1000;
    std::optional<std::uint32_t> connectionTimeOutMs;
    bool noExceptions = false;
    std::string mapFile;
    bool quiet = false;
    double durationS = 0;
    std::string web;
};

struct IpArguments {
    std::string host = "127.0.0.1";
    std::uint16_t port = 0;
};

struct SerialArguments {
    std::string device;
    int baud = 19200;
    int dataBits = 8;
    int stopBits = 1;
    int parity = 2;
    std::uint32_t rs485DelayMs = 0;
    std::uint32_t frameToleranceMs = 0;
};

const std::map<std::string, int> kParityNames{{"none", 0}, {"odd", 1}, {"even", 2}, {"n", 0}, {"o", 1}, {"e", 2}};

// --parity's name (any case) -> its number; a plain message for anything else.
std::string parityNumber(std::string& text) {
    std::string name;
    for (unsigned char c : text) name += static_cast<char>(std::tolower(c));
    const auto found = kParityNames.find(name);
    if (found == kParityNames.end()) return "'" + text + "' is not none, odd or even";
    text = std::to_string(found->second);
    return std::string();
}

void addIpOptions(CLI::App& command, IpArguments& ip) {
    command.add_option("--host", ip.host, "address or name of this machine to listen on (0.0.0.0: all)")
        ->capture_default_str();
    command.add_option("--port", ip.port, "port to listen on")->check(CLI::Range(1, 65535));
}

void addSerialOptions(CLI::App& command, SerialArguments& serial, Transport transport) {
    command.add_option("--device", serial.device, "serial device: /dev/ttyUSB0, /dev/ttyS0, COM1 (= /dev/ttyS0)")
        ->required();
    command.add_option("--baud", serial.baud, "baud rate")->check(CLI::Range(50, 4000000))->capture_default_str();
    command.add_option("--databits", serial.dataBits, "data bits")
        ->check(CLI::IsMember({7, 8}))
        ->capture_default_str();
    command.add_option("--stopbits", serial.stopBits, "stop bits")
        ->check(CLI::IsMember({1, 2}))
        ->capture_default_str();
    command.add_option("--parity", serial.parity, "parity: none, odd or even (default even; a pseudo-terminal "
                                                  "takes none only)")
        ->transform(CLI::Validator(parityNumber, "none|odd|even"));
    command.add_option("--rs485", serial.rs485DelayMs,
                       "RS-485 mode: RTS switches the transmitter, held MS ms after each reply (0: off)")
        ->check(CLI::Range(std::uint32_t{0}, kMaxRs485DelayMs));
    if (transport == Transport::Rtu) {
        command
            .add_option("--tolerance", serial.frameToleranceMs,
                        "extra silence in ms that ends a frame, 0..20 (default: what the USB adapter's latency "
                        "timer or the UART's receive trigger in sysfs calls for)")
            ->check(CLI::Range(std::uint32_t{0}, kMaxFrameToleranceMs));
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
    unsigned value = 0;
    const auto* end = portText.data() + portText.size();
    const auto [last, error] = std::from_chars(portText.data(), end, value);
    if (portText.empty() || error != std::errc{} || last != end || value < 1 || value > 65535) return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

std::string usageError(const std::string& message) {
    return "mbslave-sim: error: " + message + "\nRun 'mbslave-sim --help' for the options and examples.\n";
}

}  // namespace

const char* transportName(Transport transport) { return infoOf(transport).name; }

bool isSerial(Transport transport) { return transport == Transport::Rtu || transport == Transport::Ascii; }

namespace {

// The parsed values before they are checked against each other.
struct ParsedArguments {
    CommonArguments common;
    IpArguments ip;
    SerialArguments serial;
    std::vector<std::pair<Transport, CLI::App*>> commands;
};

void defineCommandLine(CLI::App& app, ParsedArguments& parsed, const std::vector<Transport>& available,
                       const std::string& version) {
    app.set_version_flag("--version", "mbslave-sim " + version);
    app.fallthrough();
    app.require_subcommand(1);
    app.footer(footer(available));

    CommonArguments& common = parsed.common;
    app.add_option("--units", common.units, "slave addresses to serve: 1,2,10-20 or all (serial: 1..255)")
        ->capture_default_str();
    app.add_option("--timeout", common.timeOutMs,
                   "protocol time-out in ms: longest wait of one server pass and master supervision period "
                   "(0: wait without limit, no supervision)")
        ->check(CLI::Range(std::uint32_t{0}, kMaxTimeOutMs))
        ->capture_default_str();
    app.add_option("--conn-timeout", common.connectionTimeOutMs,
                   "tcp, rtutcp: close a connection idle for MS ms (0: never; default " +
                       std::to_string(kDefaultConnectionTimeOutMs) + ")")
        ->check(CLI::Range(std::uint32_t{0}, kMaxConnectionTimeOutMs));
    app.add_flag("--no-exceptions", common.noExceptions, "send no reply instead of an exception response");
    app.add_option("--map", common.mapFile, "JSON file with the initial values of the units");
    app.add_flag("--quiet", common.quiet, "no line per request, connection or time-out");
    app.add_option("--duration", common.durationS, "stop after S seconds (default: until Ctrl-C)")
        ->check(CLI::Range(0.0, 31536000.0));
    app.add_option("--web", common.web,
                   "serve a web page with live tables, request log and edits on [HOST:]PORT "
                   "(HOST default 127.0.0.1: every local user can change every value, other web sites "
                   "cannot; 0.0.0.0: anyone who reaches the port can)");

    for (Transport transport : available) {
        const TransportInfo& info = infoOf(transport);
        CLI::App* command = app.add_subcommand(info.name, info.description);
        if (isSerial(transport)) {
            addSerialOptions(*command, parsed.serial, transport);
        } else {
            addIpOptions(*command, parsed.ip);
            command->get_option("--port")->default_str(std::to_string(info.defaultPort));
        }
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
    SimOptions options;
    const CLI::App* chosen = nullptr;
    for (const auto& [transport, command] : parsed.commands) {
        if (command->parsed()) {
            options.transport = transport;
            chosen = command;
        }
    }
    const bool serialLine = isSerial(options.transport);
    const CommonArguments& common = parsed.common;
    SerialArguments& serial = parsed.serial;
    std::string error;
    const auto units = parseUnitList(common.units, serialLine, error);
    if (!units) return usageFailure("--units: " + error);
    const bool connectionKind = options.transport == Transport::Tcp || options.transport == Transport::RtuOverTcp;
    if (common.connectionTimeOutMs && !connectionKind) {
        return usageFailure("--conn-timeout applies to tcp and rtutcp only");
    }
    // ASCII framing is 7 data bits by the standard, RTU framing needs 8.
    if (options.transport == Transport::Ascii && chosen->count("--databits") == 0) serial.dataBits = 7;
    if (options.transport == Transport::Rtu && serial.dataBits != 8) {
        return usageFailure("--databits: RTU framing needs 8 data bits");
    }

    if (!serialLine && parsed.ip.host.empty()) {
        return usageFailure("--host: empty; give an address of this machine (0.0.0.0 listens on every interface)");
    }
    options.host = parsed.ip.host;
    options.port =
        !serialLine && chosen->count("--port") == 0 ? infoOf(options.transport).defaultPort : parsed.ip.port;
    options.connectionTimeOutMs = common.connectionTimeOutMs;
    if (connectionKind && !options.connectionTimeOutMs) options.connectionTimeOutMs = kDefaultConnectionTimeOutMs;
    options.device = serial.device;
    options.baud = serial.baud;
    options.dataBits = serial.dataBits;
    options.stopBits = serial.stopBits;
    options.parity = serial.parity;
    options.rs485DelayMs = serial.rs485DelayMs;
    if (options.transport == Transport::Rtu && chosen->count("--tolerance") != 0) {
        options.frameToleranceMs = serial.frameToleranceMs;
    }
    options.units = *units;
    options.timeOutMs = common.timeOutMs;
    options.noExceptions = common.noExceptions;
    options.mapFile = common.mapFile;
    options.quiet = common.quiet;
    options.durationS = common.durationS;
    if (!common.web.empty() && !parseWebEndpoint(common.web, options.webHost, options.webPort)) {
        return usageFailure("--web: '" + common.web + "' is not [HOST:]PORT with a PORT of 1..65535 "
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

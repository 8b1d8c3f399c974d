#include "simulator.hpp"

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <sstream>
#include <utility>

#include "callback_bridge.hpp"
#include "descriptor_limit.hpp"
#include "map_file.hpp"
#include "serial_hardware.hpp"
#include "signals.hpp"
#include "transport.hpp"
#include "web_server.hpp"

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;

std::string seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", value);
    return text;
}

void printError(const std::string& message) { std::fprintf(stderr, "mbslave-sim: error: %s\n", message.c_str()); }

// The callbacks work on the context from construction to destruction.
class BridgeAttachment {
public:
    explicit BridgeAttachment(BridgeContext& context) { attachBridge(&context); }
    ~BridgeAttachment() { attachBridge(nullptr); }
    BridgeAttachment(const BridgeAttachment&) = delete;
    BridgeAttachment& operator=(const BridgeAttachment&) = delete;
};

// A step that could not be done: what to print and the exit code.
struct Failure {
    int exitCode;
    std::string message;
};

// One run of the simulator, step by step. Whatever a step set up is owned
// by a member and released by the destructor, in the reverse order of the
// members: web server, Modbus handle, bridge, model.
class SimulatorRun {
public:
    SimulatorRun(const SimOptions& options, const std::string& version);

    std::optional<Failure> buildModel();
    std::optional<Failure> loadRoleRules();
    std::optional<Failure> startModbus();
    std::optional<Failure> startWebPage();
    void announce();
    // Serves until a stop is requested or the server fails; the exit code.
    int serve();
    // Stops both servers and prints how the run ended and what it served.
    void report(int exitCode);

private:
    std::string rolesText() const;
    std::string summary() const;
    void reportUnserved();
    void finishSerialPass();
    void publishCounters();

    SimOptions options_;
    std::string version_;
    std::string lineTiming_;
    const Clock::time_point start_ = Clock::now();
    EventLog log_;
    std::unique_ptr<DeviceModel> model_;
    std::optional<RoleRules> roles_;
    RequestTrace trace_;
    std::unique_ptr<TrafficRing> traffic_;  // the web page's request log (only with --web)
    BridgeContext context_;
    std::unique_ptr<WebApi> webApi_;
    BridgeAttachment attachment_{context_};
    ServerHandle handle_;
    std::unique_ptr<WebServer> webServer_;
    std::uint32_t servedBefore_ = 0;
    std::uint32_t unservedBefore_ = 0;
};

SimulatorRun::SimulatorRun(const SimOptions& options, const std::string& version)
    : options_(options),
      version_(version),
      lineTiming_(resolveFrameTolerance(options_)),
      log_(stdout, options_.quiet),
      trace_(options_.noExceptions) {
    context_.trace = &trace_;
    context_.log = &log_;
    context_.timeOutMs = options_.timeOutMs;
    context_.uptimeMs = [start = start_] {
        return static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    };
}

// The demo device, or the map file's values on top of it (or on nothing).
// A model the map could not be applied to is freed before the error is
// reported: it may hold all the memory there is.
std::optional<Failure> SimulatorRun::buildModel() {
    if (options_.mapFile.empty()) {
        model_ = std::make_unique<DeviceModel>(options_.units, version_, true);
    } else {
        std::string error;
        const auto map = readMapFile(options_.mapFile, error);
        if (!map) return Failure{kExitUsage, error};
        auto model = std::make_unique<DeviceModel>(options_.units, version_, map->demo);
        std::vector<std::string> warnings;
        if (!applyMap(*map, *model, error, warnings)) {
            model.reset();
            return Failure{kExitUsage, error};
        }
        for (const auto& warning : warnings) log_.notice("warning: " + warning);
        model_ = std::move(model);
    }
    context_.model = model_.get();
    return std::nullopt;
}

// tls --roles: what each role may do; without, every master may do everything.
std::optional<Failure> SimulatorRun::loadRoleRules() {
    if (options_.rolesFile.empty()) return std::nullopt;
    std::string error;
    roles_ = RoleRules::read(options_.rolesFile, error);
    if (!roles_) return Failure{kExitUsage, error};
    context_.roles = &*roles_;
    return std::nullopt;
}

std::optional<Failure> SimulatorRun::startModbus() {
    std::string error;
    handle_ = createServer(options_, error);
    if (!handle_) return Failure{kExitRunTime, error};
    int result = configureUnits(handle_.get(), options_);
    if (result == MB_OK) result = startServer(handle_.get(), options_);
    if (result != MB_OK) return Failure{kExitRunTime, startupFailure(result, options_)};
    return std::nullopt;
}

// The web page comes up once the Modbus server runs, on the same data.
std::optional<Failure> SimulatorRun::startWebPage() {
    if (options_.webPort == 0) return std::nullopt;
    webApi_ = std::make_unique<WebApi>(context_, transportTitle(options_.transport) + " server on " +
                                                     endpointText(options_),
                                       holdsConnections(options_.transport));
    traffic_ = std::make_unique<TrafficRing>();
    {
        const std::lock_guard<std::mutex> guard(context_.lock);
        context_.traffic = traffic_.get();
    }
    std::string error;
    webServer_ = startWebServer(*webApi_, options_.webHost, options_.webPort, error);
    if (!webServer_) return Failure{kExitRunTime, error};
    return std::nullopt;
}

void SimulatorRun::announce() {
    log_.notice("mbslave-sim " + version_ + ": " + transportTitle(options_.transport) + " server on " +
                endpointText(options_) + (lineTiming_.empty() ? "" : ", " + lineTiming_) + ", units " +
                formatRanges(options_.units) + ", " +
                (options_.mapFile.empty() ? std::string("demo device") : "map " + options_.mapFile) +
                rolesText() +
                (options_.durationS > 0 ? "; stops after " + seconds(options_.durationS) : "; Ctrl-C stops"));
    if (!webServer_) return;
    const std::string& host = options_.webHost;
    const bool ipv6 = host.find(':') != std::string::npos;
    const bool loopback = host.rfind("127.", 0) == 0 || host == "localhost" || host == "::1";
    log_.notice("web page on http://" + (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(options_.webPort) +
                "/" + (loopback ? "" : " (reachable from other machines: anyone who opens it can change every value)"));
}

int SimulatorRun::serve() {
    if (options_.durationS > 0) scheduleStop(options_.durationS);
    while (!stopRequested()) {
        const int result = mbusSlave_serverLoop(handle_.get());
        if (isSerial(options_.transport)) finishSerialPass();
        reportUnserved();
        publishCounters();
        if (result != MB_OK && !stopRequested()) {
            printError("the server stopped: " + errorText(result));
            return kExitRunTime;
        }
    }
    return kExitOk;
}

void SimulatorRun::report(int exitCode) {
    webServer_.reset();
    mbusSlave_shutdownServer(handle_.get());
    const std::string ran = seconds(std::chrono::duration<double>(Clock::now() - start_).count());
    log_.notice(exitCode == kExitOk ? std::string("stopped by ") + stopReason() + " after " + ran
                                    : "stopped by an error after " + ran);
    log_.notice(summary());
}

// ", roles of roles.txt" or ", every master may use every function" (tls only).
std::string SimulatorRun::rolesText() const {
    if (options_.transport != Transport::Tls) return "";
    return roles_ ? ", roles of " + options_.rolesFile : ", every master may use every function";
}

std::string SimulatorRun::summary() const {
    MbusSlaveHandle* handle = handle_.get();
    std::ostringstream text;
    text << "summary: " << mbusSlave_getTotalCounter(handle) << " requests received, "
         << mbusSlave_getSuccessCounter(handle) << " served";
    std::string perUnit;
    for (int unit = 0; unit <= library::kMaxSlaveAddress; ++unit) {
        const std::uint32_t count = trace_.finishedPerUnit()[static_cast<std::size_t>(unit)];
        if (count == 0) continue;
        if (!perUnit.empty()) perUnit += ", ";
        const bool broadcast = unit == library::kBroadcastAddress && isSerial(options_.transport);
        perUnit += (broadcast ? std::string("broadcast") : "unit " + std::to_string(unit)) + ": " +
                   std::to_string(count);
    }
    if (!perUnit.empty()) text << " (" << perUnit << ")";
    if (holdsConnections(options_.transport)) text << ", " << context_.connectionsOpened << " connections";
    text << ", " << context_.timeOutNotices << " master time-outs";
    return text.str();
}

// Requests the library received but did not serve (a unit without data, a
// malformed frame) leave no other trace; RTU over TCP also counts a master's
// close as received, so it is left out there.
void SimulatorRun::reportUnserved() {
    MbusSlaveHandle* handle = handle_.get();
    const std::uint32_t unserved = mbusSlave_getTotalCounter(handle) - mbusSlave_getSuccessCounter(handle);
    if (unserved != unservedBefore_ && options_.transport != Transport::RtuOverTcp) {
        log_.traffic(std::to_string(unserved - unservedBefore_) + " request(s) not served: unit not in --units (" +
                     formatRanges(options_.units) + ") or a malformed frame");
    }
    unservedBefore_ = unserved;
}

// Serial lines report no processed request: the simulator finishes the
// request's line after the pass, which serves at most one.
void SimulatorRun::finishSerialPass() {
    const std::uint32_t served = mbusSlave_getSuccessCounter(handle_.get());
    if (trace_.pending() || served != servedBefore_) log_.traffic(finishRequest(options_.device));
    servedBefore_ = served;
}

// The counters the web page shows, which only this thread may read from the handle.
void SimulatorRun::publishCounters() {
    const std::uint32_t received = mbusSlave_getTotalCounter(handle_.get());
    const std::uint32_t served = mbusSlave_getSuccessCounter(handle_.get());
    const std::lock_guard<std::mutex> guard(context_.lock);
    context_.received = received;
    context_.served = served;
}

}  // namespace

int runSimulator(const SimOptions& options, const std::string& version) {
    // Before anything is announced, so that a stop request is never lost.
    installStopHandlers();
    raiseDescriptorLimit();
    SimulatorRun run(options, version);
    std::optional<Failure> failure = run.buildModel();
    if (!failure) failure = run.loadRoleRules();
    if (!failure) failure = run.startModbus();
    if (!failure) failure = run.startWebPage();
    if (failure) {
        printError(failure->message);
        return failure->exitCode;
    }
    run.announce();
    const int exitCode = run.serve();
    run.report(exitCode);
    return exitCode;
}

}  // namespace sim

#include "simulator.hpp"

#include <chrono>
#include <cstdio>
#include <memory>
#include <sstream>

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

// The demo device, or the map file's values on top of it (or on nothing).
std::unique_ptr<DeviceModel> buildModel(const SimOptions& options, const std::string& version, EventLog& log,
                                        std::string& error) {
    if (options.mapFile.empty()) return std::make_unique<DeviceModel>(options.units, version, true);
    const auto map = readMapFile(options.mapFile, error);
    if (!map) return nullptr;
    auto model = std::make_unique<DeviceModel>(options.units, version, map->demo);
    std::vector<std::string> warnings;
    if (!applyMap(*map, *model, error, warnings)) return nullptr;
    for (const auto& warning : warnings) log.notice("warning: " + warning);
    return model;
}

std::string summary(MbusSlaveHandle* handle, const BridgeContext& context, const RequestTrace& trace,
                    const SimOptions& options) {
    std::ostringstream text;
    text << "summary: " << mbusSlave_getTotalCounter(handle) << " requests received, "
         << mbusSlave_getSuccessCounter(handle) << " served";
    std::string perUnit;
    for (int unit = 0; unit < 256; ++unit) {
        const std::uint32_t count = trace.finishedPerUnit()[static_cast<std::size_t>(unit)];
        if (count == 0) continue;
        if (!perUnit.empty()) perUnit += ", ";
        perUnit += (unit == 0 && isSerial(options.transport) ? std::string("broadcast") : "unit " + std::to_string(unit)) +
                   ": " + std::to_string(count);
    }
    if (!perUnit.empty()) text << " (" << perUnit << ")";
    if (options.transport == Transport::Tcp || options.transport == Transport::RtuOverTcp) {
        text << ", " << context.connectionsOpened << " connections";
    }
    text << ", " << context.timeOutNotices << " master time-outs";
    return text.str();
}

// Requests the library received but did not serve (a unit without data, a
// malformed frame) leave no other trace; RTU over TCP also counts a master's
// close as received, so it is left out there.
void reportUnserved(MbusSlaveHandle* handle, EventLog& log, const SimOptions& options, std::uint32_t& unservedBefore) {
    const std::uint32_t unserved = mbusSlave_getTotalCounter(handle) - mbusSlave_getSuccessCounter(handle);
    if (unserved != unservedBefore && options.transport != Transport::RtuOverTcp) {
        log.traffic(std::to_string(unserved - unservedBefore) +
                    " request(s) not served: unit not in --units (" + formatRanges(options.units) +
                    ") or a malformed frame");
    }
    unservedBefore = unserved;
}

// Serial lines report no processed request: the simulator finishes the
// request's line after the pass, which serves at most one.
void finishSerialPass(MbusSlaveHandle* handle, RequestTrace& trace, EventLog& log, const SimOptions& options,
                      std::uint32_t& servedBefore) {
    const std::uint32_t served = mbusSlave_getSuccessCounter(handle);
    if (trace.pending() || served != servedBefore) log.traffic(finishRequest(options.device));
    servedBefore = served;
}

// The counters the web page shows, which only this thread may read from the handle.
void publishCounters(MbusSlaveHandle* handle, BridgeContext& context) {
    const std::uint32_t received = mbusSlave_getTotalCounter(handle);
    const std::uint32_t served = mbusSlave_getSuccessCounter(handle);
    const std::lock_guard<std::mutex> guard(context.lock);
    context.received = received;
    context.served = served;
}

}  // namespace

int runSimulator(const SimOptions& requested, const std::string& version) {
    SimOptions options = requested;
    const std::string lineTiming = resolveFrameTolerance(options);
    // Before anything is announced, so that a stop request is never lost.
    installStopHandlers();
    raiseDescriptorLimit();
    EventLog log(stdout, options.quiet);
    std::string error;
    const auto model = buildModel(options, version, log, error);
    if (!model) {
        printError(error);
        return kExitUsage;
    }

    RequestTrace trace(options.noExceptions);
    BridgeContext context;
    const auto start = Clock::now();
    context.model = model.get();
    context.trace = &trace;
    context.log = &log;
    context.timeOutMs = options.timeOutMs;
    context.uptimeMs = [start] {
        return static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    };
    attachBridge(&context);

    MbusSlaveHandle* handle = createServer(options, error);
    if (handle == nullptr) {
        printError(error);
        attachBridge(nullptr);
        return kExitRunTime;
    }
    int result = configureUnits(handle, options);
    if (result == MB_OK) result = startServer(handle, options);
    if (result != MB_OK) {
        printError(startupFailure(result, options));
        mbusSlave_destroyProtocol(handle);
        attachBridge(nullptr);
        return kExitRunTime;
    }

    // The web page comes up once the Modbus server runs, on the same data.
    std::unique_ptr<TrafficRing> traffic;
    std::unique_ptr<WebApi> webApi;
    std::unique_ptr<WebServer> webServer;
    if (options.webPort != 0) {
        traffic = std::make_unique<TrafficRing>();
        webApi = std::make_unique<WebApi>(context, transportTitle(options.transport) + " server on " + endpointText(options),
                                          options.transport == Transport::Tcp ||
                                              options.transport == Transport::RtuOverTcp);
        {
            const std::lock_guard<std::mutex> guard(context.lock);
            context.traffic = traffic.get();
        }
        webServer = startWebServer(*webApi, options.webHost, options.webPort, error);
        if (!webServer) {
            printError(error);
            mbusSlave_destroyProtocol(handle);
            attachBridge(nullptr);
            return kExitRunTime;
        }
    }

    log.notice("mbslave-sim " + version + ": " + transportTitle(options.transport) + " server on " +
               endpointText(options) + (lineTiming.empty() ? "" : ", " + lineTiming) + ", units " +
               formatRanges(options.units) + ", " +
               (options.mapFile.empty() ? std::string("demo device") : "map " + options.mapFile) +
               (options.durationS > 0 ? "; stops after " + seconds(options.durationS) : "; Ctrl-C stops"));
    if (webServer) {
        const bool ipv6 = options.webHost.find(':') != std::string::npos;
        const bool loopback =
            options.webHost.rfind("127.", 0) == 0 || options.webHost == "localhost" || options.webHost == "::1";
        log.notice("web page on http://" + (ipv6 ? "[" + options.webHost + "]" : options.webHost) + ":" +
                   std::to_string(options.webPort) + "/" +
                   (loopback ? "" : " (reachable from other machines: anyone who opens it can change every value)"));
    }

    if (options.durationS > 0) scheduleStop(options.durationS);
    int exitCode = kExitOk;
    std::uint32_t servedBefore = 0;
    std::uint32_t unservedBefore = 0;
    while (!stopRequested()) {
        result = mbusSlave_serverLoop(handle);
        if (isSerial(options.transport)) finishSerialPass(handle, trace, log, options, servedBefore);
        reportUnserved(handle, log, options, unservedBefore);
        publishCounters(handle, context);
        if (result != MB_OK && !stopRequested()) {
            printError("the server stopped: " + errorText(result));
            exitCode = kExitRunTime;
            break;
        }
    }

    webServer.reset();
    mbusSlave_shutdownServer(handle);
    const std::string ran = seconds(std::chrono::duration<double>(Clock::now() - start).count());
    log.notice(exitCode == kExitOk ? std::string("stopped by ") + stopReason() + " after " + ran
                                   : "stopped by an error after " + ran);
    log.notice(summary(handle, context, trace, options));
    mbusSlave_destroyProtocol(handle);
    attachBridge(nullptr);
    return exitCode;
}

}  // namespace sim

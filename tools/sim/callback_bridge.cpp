#include "callback_bridge.hpp"

#include <string>
#include <utility>

namespace sim {

namespace {

BridgeContext* context = nullptr;

UnitModel* unitModel(int unit) {
    if (context == nullptr || context->model == nullptr) return nullptr;
    context->polledSinceNotice[static_cast<std::size_t>(unit)] = true;
    return context->model->unit(unit);
}

std::uint64_t uptime() { return context->uptimeMs ? context->uptimeMs() : 0; }

// Runs one data access on the unit and records it for the request's log line.
template <typename Access>
int serve(int unit, const RequestInfo* info, const char* function, const std::string& range, Access access,
          int exceptionCode = 2) {
    UnitModel* model = unitModel(unit);
    bool ok = false;
    if (model != nullptr) {
        const std::lock_guard<std::mutex> guard(context->lock);
        ok = access(*model);
    }
    if (context != nullptr && context->trace != nullptr && info != nullptr) {
        context->trace->access(*info, unit, function, range, ok, exceptionCode);
    }
    return ok ? 1 : 0;
}

std::string fileRange(int file, int record, int count) {
    return std::to_string(file) + " records " + describeRange(record + 1, count);
}

template <int Unit>
struct UnitEntry {
    static int readHolding(int startRef, std::uint16_t regs[], int count, const RequestInfo* info) {
        return serve(Unit, info, "read holding registers", describeRange(startRef, count),
                     [&](UnitModel& m) { return m.readHolding(startRef, regs, count); });
    }
    static int writeHolding(int startRef, const std::uint16_t regs[], int count, const RequestInfo* info) {
        return serve(Unit, info, "write holding registers", describeRange(startRef, count),
                     [&](UnitModel& m) { return m.writeHolding(startRef, regs, count); });
    }
    static int readInput(int startRef, std::uint16_t regs[], int count, const RequestInfo* info) {
        return serve(Unit, info, "read input registers", describeRange(startRef, count),
                     [&](UnitModel& m) { return m.readInput(startRef, regs, count, uptime()); });
    }
    static int readCoils(int startRef, char bits[], int count, const RequestInfo* info) {
        return serve(Unit, info, "read coils", describeRange(startRef, count),
                     [&](UnitModel& m) { return m.readCoils(startRef, bits, count); });
    }
    static int writeCoils(int startRef, const char bits[], int count, const RequestInfo* info) {
        return serve(Unit, info, "write coils", describeRange(startRef, count),
                     [&](UnitModel& m) { return m.writeCoils(startRef, bits, count); });
    }
    static int readDiscretes(int startRef, char bits[], int count, const RequestInfo* info) {
        return serve(Unit, info, "read discrete inputs", describeRange(startRef, count),
                     [&](UnitModel& m) { return m.readDiscretes(startRef, bits, count, uptime()); });
    }
    static int readExceptionStatus(const RequestInfo* info) {
        int status = 0;
        serve(Unit, info, "read exception status", "", [&](UnitModel& m) {
            status = m.exceptionStatus;
            return true;
        });
        return status;
    }
    static void signalTimeOut() {
        if (context == nullptr || !context->polledSinceNotice[Unit]) return;
        context->polledSinceNotice[Unit] = false;
        {
            const std::lock_guard<std::mutex> guard(context->lock);
            ++context->timeOutNotices;
        }
        if (context->log != nullptr) {
            context->log->traffic("unit " + std::to_string(Unit) + ": master time-out, no request for " +
                                  std::to_string(context->timeOutMs) + " ms");
        }
    }
    static int readFile(int refType, int file, int record, std::uint16_t regs[], int count, const RequestInfo* info) {
        return serve(Unit, info, "read file", fileRange(file, record, count),
                     [&](UnitModel& m) { return m.readFile(refType, file, record, regs, count); });
    }
    static int writeFile(int refType, int file, int record, const std::uint16_t regs[], int count,
                         const RequestInfo* info) {
        return serve(Unit, info, "write file", fileRange(file, record, count),
                     [&](UnitModel& m) { return m.writeFile(refType, file, record, regs, count); });
    }
    static int reportSlaveId(char buffer[], int capacity, const RequestInfo* info) {
        int length = 0;
        serve(
            Unit, info, "report slave id", "",
            [&](UnitModel& m) {
                length = m.reportSlaveId(buffer, capacity);
                return length > 0;
            },
            4);
        return length;
    }
    static int runIndicator(const RequestInfo*) {
        const UnitModel* model = context != nullptr && context->model != nullptr ? context->model->unit(Unit) : nullptr;
        return model != nullptr && model->runIndicator ? 1 : 0;
    }
    static int readDeviceIdObject(int objectId, char buffer[], int capacity, const RequestInfo* info) {
        UnitModel* model = unitModel(Unit);
        if (model == nullptr) return 0;
        const int length = model->deviceIdObject(objectId, buffer, capacity);
        // Existence probes (null buffer) are part of every identification
        // request; only the fetches describe what the master asked for.
        if (buffer != nullptr && info != nullptr && context->trace != nullptr) {
            context->trace->deviceIdObject(*info, Unit, objectId, length > 0);
        }
        return length;
    }

    static constexpr UnitCallbacks callbacks{&readHolding,    &writeHolding,        &readInput,     &readCoils,
                                             &writeCoils,     &readDiscretes,       nullptr,        nullptr,
                                             &readExceptionStatus, &signalTimeOut,  &readFile,      &writeFile,
                                             &reportSlaveId,  &runIndicator,        &readDeviceIdObject};
};

template <std::size_t... Units>
constexpr std::array<UnitCallbacks, sizeof...(Units)> makeCallbackTable(std::index_sequence<Units...>) {
    return {{UnitEntry<static_cast<int>(Units)>::callbacks...}};
}

constexpr auto kCallbackTable = makeCallbackTable(std::make_index_sequence<256>{});

}  // namespace

void attachBridge(BridgeContext* attached) { context = attached; }

const UnitCallbacks& callbacksFor(int unit) { return kCallbackTable[static_cast<std::size_t>(unit & 0xFF)]; }

int onConnectionAccepted(const char* address) {
    if (context != nullptr) {
        {
            const std::lock_guard<std::mutex> guard(context->lock);
            ++context->connectionsOpened;
            ++context->connectionsOpen;
        }
        if (context->log != nullptr) context->log->traffic(std::string(address) + ": connection opened");
    }
    return 1;
}

void onConnectionClosed(const char* address) {
    if (context == nullptr) return;
    {
        const std::lock_guard<std::mutex> guard(context->lock);
        if (context->connectionsOpen > 0) --context->connectionsOpen;
    }
    if (context->log != nullptr) context->log->traffic(std::string(address) + ": connection closed");
}

int onTlsAuthorization(const char* role, int functionCode, const std::uint8_t*, int, const RequestInfo* info) {
    if (context == nullptr) return 1;
    const bool allowed = context->roles == nullptr || context->roles->allows(role, functionCode);
    if (context->trace != nullptr && info != nullptr) context->trace->authorization(*info, role, functionCode, allowed);
    return allowed ? 1 : 0;
}

std::string finishRequest(const std::string& peer) {
    if (context == nullptr || context->trace == nullptr) return {};
    TrafficRecord record;
    const std::lock_guard<std::mutex> guard(context->lock);
    std::string line = context->trace->finish(peer, &record);
    if (context->traffic != nullptr) context->traffic->push(record);
    return line;
}

void onRequestServed(const char* address) {
    if (context == nullptr || context->trace == nullptr) return;
    const std::string line = finishRequest(address);
    if (context->log != nullptr) context->log->traffic(line);
}

}  // namespace sim

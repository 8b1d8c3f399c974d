// The C callbacks that the simulator registers with the library, and the
// context they work on. The library's callbacks carry no user pointer, so the
// bridge reaches the simulator through one context attached at start-up.
// Every slave address gets its own set of functions: that is how the
// time-out notification (which has no arguments) and a serial broadcast
// (whose request context names address 0) know their unit.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "device_model.hpp"
#include "event_log.hpp"
#include "mbslave.h"
#include "request_trace.hpp"
#include "role_rules.hpp"
#include "traffic_ring.hpp"

namespace sim {

struct UnitCallbacks {
    MbReadHoldingRegistersCallback readHoldingRegisters;
    MbWriteHoldingRegistersCallback writeHoldingRegisters;
    MbReadInputRegistersCallback readInputRegisters;
    MbReadCoilsCallback readCoils;
    MbWriteCoilsCallback writeCoils;
    MbReadInputDiscretesCallback readInputDiscretes;
    MbReadRegisters32Callback readRegisters32;     // null: 16-bit registers only
    MbWriteRegisters32Callback writeRegisters32;   // null: 16-bit registers only
    MbReadExceptionStatusCallback readExceptionStatus;
    MbSignalTimeOutCallback signalTimeOut;
    MbReadFileRecordCallback readFileRecord;
    MbWriteFileRecordCallback writeFileRecord;
    MbReportSlaveIdCallback reportSlaveId;
    MbRunIndicatorStatusCallback runIndicatorStatus;
    MbReadDeviceIdObjectCallback readDeviceIdObject;
};

struct BridgeContext {
    DeviceModel* model = nullptr;
    RequestTrace* trace = nullptr;
    EventLog* log = nullptr;
    std::function<std::uint64_t()> uptimeMs;  // drives the demo device's live values
    std::uint32_t timeOutMs = 0;              // for the time-out notice text
    const RoleRules* roles = nullptr;         // tls: what each role may do (null: everything)

    // The web page runs on a thread of its own: it reads and changes the
    // four tables of the model, the request log, the per-unit request counts
    // and the counters below only while holding this lock, and the callbacks
    // and the server loop hold it while they touch the same.
    std::mutex lock;
    TrafficRing* traffic = nullptr;  // the web page's request log (null: no page)

    // Filled in by the callbacks.
    std::array<bool, 256> polledSinceNotice{};  // a master polled the unit since its last time-out notice
    std::uint32_t timeOutNotices = 0;
    std::uint32_t connectionsOpened = 0;
    std::uint32_t connectionsOpen = 0;
    // The handle's counters, copied by the server loop after every pass.
    std::uint32_t received = 0;
    std::uint32_t served = 0;
};

// Attaches the context the callbacks work on (null detaches).
void attachBridge(BridgeContext* context);

// The callbacks for one slave address (0..255).
const UnitCallbacks& callbacksFor(int unit);

// The TLS server's authorization callback (MbTlsAuthorizationCallback):
// the context's role rules decide; the role goes into the request's line.
int onTlsAuthorization(const char* role, int functionCode, const std::uint8_t pdu[], int pduLength,
                       const RequestInfo* info);

// Notification callbacks of the IP servers.
int onConnectionAccepted(const char* address);
void onConnectionClosed(const char* address);
void onRequestServed(const char* address);

// Finishes the request the trace collected: its log line, also recorded in
// the web page's request log (peer names the master when no access did).
std::string finishRequest(const std::string& peer);

}  // namespace sim

// Transport-independent base of every protocol object: the data table of
// each slave address, the request context, counters, the protocol time-out
// with master supervision, the exception-reply policy and the working
// buffers of request processing.
#pragma once

#include <cstdint>

#include "engine/data_table.hpp"
#include "base/heap_object.hpp"
#include "base/timer.hpp"
#include "mbslave.h"
#include "platform/clock.hpp"

namespace mbslave {

static_assert(sizeof(int) == 4, "the C interface passes 32-bit ints");

constexpr int kSlaveAddressCount = 256;
constexpr int kBroadcastAddress = 0;
constexpr std::uint32_t kDefaultTimeOut = 1000;
constexpr std::uint32_t kMaxTimeOut = 100000;
constexpr int kMaxRegisters = 125;
constexpr int kMaxRegisters32 = 62;
constexpr int kMaxBits = 2000;
// Largest frame processRequest works on and returns: slave address plus PDU.
constexpr int kMaxFrameLength = 254;
// Longest message a transport delivers to serveRequest (slave address and
// PDU): an ASCII frame's 513 digits decode to 255 bytes once the LRC is
// removed. Longer ones are answered with exception 3.
constexpr int kMaxRequestLength = 255;

// The kinds a protocol object is, one bit per class of its family (an RTU
// object is serial and RTU): the C interface tells from them which
// kind-specific functions apply to a handle. Each protocol class names the
// bits of its own class and its bases as kKinds; each transport family
// names the bits of its classes (serial: the low three, IP: the high five),
// and the C interface checks that no two families share one.
using ProtocolKinds = std::uint8_t;

// The request context the data callbacks get, as a RequestInfo, and what
// the library keeps beside it for them: the TLS role of the master (null on
// every other kind). The callbacks' RequestInfo pointer is this object, so
// the role is reached from it without a field in RequestInfo.
struct RequestContext : RequestInfo {
    const char* role = nullptr;
};

// Who sent the request being served, as the request context shows it.
struct RequestOrigin {
    // The request context's peer; null keeps the one set at start-up (the
    // serial port's name).
    const char* peerName = nullptr;
    // The MBAP transaction identifier; -1 keeps the previous one.
    std::int32_t transactionId = -1;
};

// What serveRequest returns for a request whose slave address has no data
// table: it is not for this server, and nothing was done.
constexpr int kNotForThisServer = -1;

class SlaveProtocol : public HeapObject {
public:
    static constexpr ProtocolKinds kKinds = 0;

    // Source of the millisecond tick; tests replace it to drive time.
    using TickSource = std::uint32_t (*)() noexcept;

    SlaveProtocol() noexcept;
    SlaveProtocol(const SlaveProtocol&) = delete;
    SlaveProtocol& operator=(const SlaveProtocol&) = delete;
    virtual ~SlaveProtocol() = default;

    // One pass of the server, the same start on every transport: a stopped
    // server is refused (MB_ERR_ILLEGAL_STATE), each supervised address
    // whose master time-out has elapsed is notified, then the transport's
    // pass waits for, receives, serves and answers what arrived. An error
    // code.
    int serverLoop();
    virtual void shutdownServer() = 0;
    bool isStarted() const noexcept;
    // Start-up without arguments, the entry that the serial start-up of the
    // C interface reaches on a handle of another kind: IP servers start on
    // every local address; every other kind refuses.
    virtual int startupServer() { return MB_ERR_ILLEGAL_STATE; }

    // Installs a table for one slave address (0..255) or all (-1) and
    // restarts the master time-out timers concerned. Null removes a table.
    int setDataTable(int slaveAddress, DataTable* table) noexcept;
    bool noDataTableConfigured() const noexcept;
    DataTable* dataTable(int slaveAddress) const noexcept;

    // Serves a decoded request in frame[0..length) (slave address and PDU,
    // no header or check bytes), the one path of every transport except the
    // serial broadcast: the request context takes the origin, the request is
    // checked (admitRequest) and processed, and its reply is built in place.
    // Returns the reply length (0: nothing to send), or kNotForThisServer
    // for an address without data table. The transport then sends the reply
    // and calls finishRequest.
    int serveRequest(std::uint8_t* frame, int length, const RequestOrigin& origin);
    // Completes a request that serveRequest served, once its reply went out
    // (or failed to): the success counter, the activity and address timers
    // follow it, and the request notification is called.
    void finishRequest();

    // Processes the request in frame[0..length) (slave address, function
    // code, data) and builds the reply in place. Returns the reply length
    // (3..254), or 0 when nothing is to be sent. The caller has checked that
    // the address has a data table and filled requestInfo.
    int processRequest(std::uint8_t* frame, int length);

    int setTimeout(std::uint32_t milliseconds) noexcept;
    std::uint32_t getTimeout() const noexcept { return timeOut; }
    void enableExceptionReplies() noexcept { exceptionRepliesDisabled = false; }
    void disableExceptionReplies() noexcept { exceptionRepliesDisabled = true; }
    bool exceptionRepliesEnabled() const noexcept { return !exceptionRepliesDisabled; }
    std::uint32_t getSuccessCounter() const noexcept { return successCounter; }
    void resetSuccessCounter() noexcept { successCounter = 0; }
    std::uint32_t getTotalCounter() const noexcept { return totalCounter; }
    void resetTotalCounter() noexcept { totalCounter = 0; }
    // 1 while less than the time-out has passed since the last served request.
    int getConnectionStatus() const noexcept { return activityTimer.hasElapsed(now()) ? 0 : 1; }

    const RequestInfo& getRequestInfo() const noexcept { return requestInfo; }
    // Called with the peer's name after every served request (IP servers).
    void setRequestCallback(MbRequestCallback callback) noexcept { requestCallback = callback; }

    void setTickSource(TickSource source) noexcept { tickSource = source; }
    std::uint32_t now() const noexcept;

protected:
    // The transport's part of a pass on a started server. An error code.
    virtual int servePass() = 0;
    // Set by the transport once its start-up succeeded, cleared at shutdown.
    void markStarted(bool isRunning) noexcept { started = isRunning; }

    // Whether the request in frame[0..length) (with a function code) may be
    // served; a refused request is answered with exception 1 (illegal
    // function) without reaching the data table. The request context is
    // already filled.
    // Every request, unless the kind overrides it.
    virtual bool admitRequest(const std::uint8_t* frame, int length);

    // Bookkeeping of a served request: success counter, master activity
    // timer and the address's master time-out timer.
    void recordServedRequest(int slaveAddress) noexcept;
    // Connection status drops to 0 at once (shutdown and destruction).
    void clearActivity() noexcept { activityTimer.start(0, now()); }

    // Read Device Identification listing from firstId to lastId; the reply
    // length, 8 when no object was listed.
    int readDeviceIdentification(std::uint8_t* frame, int firstId, int lastId);

    std::uint32_t totalCounter = 0;
    std::uint32_t successCounter = 0;
    std::uint32_t timeOut = kDefaultTimeOut;
    DataTable* dataTables[kSlaveAddressCount] = {};
    RequestContext requestInfo{};
    Timer activityTimer;
    Timer addressTimers[kSlaveAddressCount];
    std::uint16_t registerBuffer[kMaxRegisters];
    char coilBuffer[kMaxBits];
    std::int32_t register32Buffer[kMaxRegisters32];
    bool exceptionRepliesDisabled = false;
    MbRequestCallback requestCallback = nullptr;

private:
    // Notifies each supervised address whose master time-out has elapsed.
    void superviseMasters();

    // Request handlers, one per function code (or pair of codes sharing a
    // layout). Each gets a request whose function code it serves, builds the
    // reply in the frame and returns its length (3 for an exception).
    int serveReadBits(std::uint8_t* frame, int length, DataTable& table);
    int serveReadRegisters(std::uint8_t* frame, int length, DataTable& table);
    int serveWriteSingleCoil(std::uint8_t* frame, int length, DataTable& table);
    int serveWriteSingleRegister(std::uint8_t* frame, int length, DataTable& table);
    int serveWriteMultipleCoils(std::uint8_t* frame, int length, DataTable& table);
    int serveWriteMultipleRegisters(std::uint8_t* frame, int length, DataTable& table);
    int serveMaskWriteRegister(std::uint8_t* frame, int length, DataTable& table);
    int serveReadWriteMultipleRegisters(std::uint8_t* frame, int length, DataTable& table);
    int serveReadExceptionStatus(std::uint8_t* frame, int length, DataTable& table);
    int serveDiagnostics(std::uint8_t* frame, int length);
    int serveReportSlaveId(std::uint8_t* frame, int length, DataTable& table);
    int serveReadFileRecord(std::uint8_t* frame, int length, DataTable& table);
    int serveWriteFileRecord(std::uint8_t* frame, int length, DataTable& table);
    int serveEncapsulatedInterface(std::uint8_t* frame, int length);
    int dispatch(std::uint8_t* frame, int length, DataTable& table);

    TickSource tickSource = &platform::tickMs;
    bool started = false;
};

}  // namespace mbslave

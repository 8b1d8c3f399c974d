// Transport-independent base of every protocol object: the data table of
// each slave address, the request context, counters, the protocol time-out
// with master supervision, the exception-reply policy and the working
// buffers of request processing.
#pragma once

#include <cstdint>

#include "engine/data_table.hpp"
#include "engine/heap_object.hpp"
#include "engine/timer.hpp"
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

// The kinds a protocol object is, one bit per class of its family (an RTU
// object is serial and RTU): the C interface tells from them which
// kind-specific functions apply to a handle. Each protocol class names the
// bits of its own class and its bases as kKinds.
using ProtocolKinds = std::uint8_t;
namespace kind {
constexpr ProtocolKinds kSerial = 1;
constexpr ProtocolKinds kRtu = 2;
constexpr ProtocolKinds kAscii = 4;
constexpr ProtocolKinds kIp = 8;
constexpr ProtocolKinds kTcp = 16;
constexpr ProtocolKinds kRtuOverTcp = 32;
constexpr ProtocolKinds kUdp = 64;
}  // namespace kind

class SlaveProtocol : public HeapObject {
public:
    static constexpr ProtocolKinds kKinds = 0;

    // Source of the millisecond tick; tests replace it to drive time.
    using TickSource = std::uint32_t (*)() noexcept;

    SlaveProtocol() noexcept;
    SlaveProtocol(const SlaveProtocol&) = delete;
    SlaveProtocol& operator=(const SlaveProtocol&) = delete;
    virtual ~SlaveProtocol() = default;

    // One pass of the server; an error code.
    virtual int serverLoop() = 0;
    virtual void shutdownServer() = 0;
    virtual bool isStarted() const = 0;
    // Start-up without arguments, the entry that the serial start-up of the
    // C interface reaches on a handle of another kind: IP servers start on
    // every local address; every other kind refuses.
    virtual int startupServer() { return MB_ERR_ILLEGAL_STATE; }

    // Installs a table for one slave address (0..255) or all (-1) and
    // restarts the master time-out timers concerned. Null removes a table.
    int setDataTable(int slaveAddress, DataTable* table) noexcept;
    bool noDataTableConfigured() const noexcept;
    DataTable* dataTable(int slaveAddress) const noexcept {
        return dataTables[slaveAddress & 0xFF];
    }

    // Common start of every server-loop pass: refuses a stopped server and
    // notifies each supervised address whose master time-out has elapsed.
    int serverLoopPreamble();

    // Processes the request in frame[0..length) (slave address, function
    // code, data) and builds the reply in place. Returns the reply length
    // (3..254), or 0 when nothing is to be sent. The caller has checked that
    // the address has a data table and filled requestInfo.
    int processRequest(std::uint8_t* frame, int length);

    int setTimeout(std::uint32_t milliseconds) noexcept;
    std::uint32_t getTimeout() const noexcept { return timeOut; }
    void enableExceptionReplies() noexcept { exceptionRepliesDisabled = 0; }
    void disableExceptionReplies() noexcept { exceptionRepliesDisabled = 1; }
    bool exceptionRepliesEnabled() const noexcept { return exceptionRepliesDisabled == 0; }
    std::uint32_t getSuccessCounter() const noexcept { return successCounter; }
    void resetSuccessCounter() noexcept { successCounter = 0; }
    std::uint32_t getTotalCounter() const noexcept { return totalCounter; }
    void resetTotalCounter() noexcept { totalCounter = 0; }
    // 1 while less than the time-out has passed since the last served request.
    int getConnectionStatus() const noexcept { return activityTimer.hasElapsed(now()) ? 0 : 1; }

    const RequestInfo& getRequestInfo() const noexcept { return requestInfo; }

    void setTickSource(TickSource source) noexcept { tickSource = source; }
    std::uint32_t now() const noexcept { return tickSource(); }

protected:
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
    RequestInfo requestInfo{};
    Timer activityTimer;
    Timer addressTimers[kSlaveAddressCount];
    std::uint16_t registerBuffer[kMaxRegisters];
    char coilBuffer[kMaxBits];
    std::int32_t register32Buffer[kMaxRegisters32];
    std::int32_t exceptionRepliesDisabled = 0;

private:
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
};

}  // namespace mbslave

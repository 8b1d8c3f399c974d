#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <vector>

#include "api/protocol_handle.hpp"
#include "support/fake_clock.hpp"
#include "support/handle_ptr.hpp"
#include "support/test_protocol.hpp"

extern "C" int mbslaveCHeaderConfigure(MbusSlaveHandle* handle, int slaveAddress);
extern "C" unsigned mbslaveCHeaderRequestInfoSize(void);

namespace mbslave {
namespace {

using test::TestProtocol;

TestProtocol& protocolOfHandle(MbusSlaveHandle* handle) {
    return static_cast<TestProtocol&>(*toHandle(handle)->protocol);
}

using test::HandlePtr;

HandlePtr makeHandle() { return HandlePtr(toOpaque(createHandle<TestProtocol>())); }

// Callbacks that tell which set served a request by the value they read.
int readFirstSet(int, std::uint16_t regArr[], int refCnt, const RequestInfo*) {
    for (int i = 0; i < refCnt; ++i) regArr[i] = 0x1111;
    return 1;
}
int readSecondSet(int, std::uint16_t regArr[], int refCnt, const RequestInfo*) {
    for (int i = 0; i < refCnt; ++i) regArr[i] = 0x2222;
    return 1;
}
int timeOutCount = 0;
void countTimeOut() { ++timeOutCount; }

int configure(MbusSlaveHandle* handle, int address, MbReadHoldingRegistersCallback read,
              MbSignalTimeOutCallback timeOut = nullptr) {
    return mbusSlave_configureCallbacks(handle, address, read, nullptr, nullptr, nullptr, nullptr,
                                        nullptr, nullptr, nullptr, nullptr, timeOut, nullptr,
                                        nullptr, nullptr, nullptr, nullptr);
}

// Pointers that are not live handles: every function refuses them with its
// null result and touches nothing (a patterned block would crash a function
// that followed its pointers; a destroyed handle would be freed twice).
TEST(NotALiveHandle, EveryFunctionReturnsItsNullResult) {
    std::vector<std::uint64_t> zeroed(sizeof(ProtocolHandle) / 8 + 1, 0);
    std::vector<std::uint64_t> patterned(sizeof(ProtocolHandle) / 8 + 1, 0xA5A5A5A5A5A5A5A5u);
    // Destroyed in place but not freed, so that its memory can still be read.
    ProtocolHandle* destroyed = toHandle(mbusSlave_createTcpProtocol());
    ASSERT_NE(destroyed, nullptr);
    destroyed->~ProtocolHandle();
    const struct {
        const char* name;
        MbusSlaveHandle* handle;
    } cases[] = {
        {"null", nullptr},
        {"zeroed block", reinterpret_cast<MbusSlaveHandle*>(zeroed.data())},
        {"patterned block", reinterpret_cast<MbusSlaveHandle*>(patterned.data())},
        {"destroyed handle", toOpaque(destroyed)},
    };
    const MbWideChar port[] = {'C', 'O', 'M', '1', 0};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MbusSlaveHandle* handle = c.handle;
        EXPECT_EQ(configure(handle, 1, readFirstSet), MB_ERR_ILLEGAL_STATE);
        EXPECT_EQ(configure(handle, -1, readFirstSet), MB_ERR_ILLEGAL_STATE);
        EXPECT_EQ(mbusSlave_serverLoop(handle), MB_ERR_ILLEGAL_STATE);
        EXPECT_EQ(mbusSlave_isStarted(handle), 0);
        EXPECT_EQ(mbusSlave_getConnectionStatus(handle), 0);
        EXPECT_EQ(mbusSlave_setTimeout(handle, 10), MB_ERR_ILLEGAL_STATE);
        EXPECT_EQ(mbusSlave_getTimeout(handle), 0u);
        EXPECT_EQ(mbusSlave_getSuccessCounter(handle), 0u);
        EXPECT_EQ(mbusSlave_getTotalCounter(handle), 0u);
        EXPECT_EQ(mbusSlave_startupSerialServer(handle, port, 19200, 8, 1, PARITY_NONE),
                  MB_ERR_ILLEGAL_STATE);
        EXPECT_EQ(mbusSlave_enableRs485Mode(handle, 1), MB_ERR_ILLEGAL_STATE);
        EXPECT_EQ(mbusSlave_setFrameTolerance(handle, 1), MB_ERR_ILLEGAL_STATE);
        EXPECT_EQ(mbusSlave_startupIpServer(handle, "127.0.0.1"), MB_ERR_ILLEGAL_STATE);
        EXPECT_EQ(mbusSlave_setPort(handle, 1502), MB_ERR_ILLEGAL_STATE);
        EXPECT_EQ(mbusSlave_getPort(handle), 0);
        EXPECT_EQ(mbusSlave_setConnectionTimeOut(handle, 10), MB_ERR_ILLEGAL_STATE);
        EXPECT_EQ(mbusSlave_getConnectionTimeOut(handle), 0u);
        mbusSlave_configureTcpNotifications(handle, nullptr, nullptr, nullptr);
        mbusSlave_configureUdpNotifications(handle, nullptr);
        mbusSlave_shutdownServer(handle);
        mbusSlave_enableExceptionReplies(handle);
        mbusSlave_disableExceptionReplies(handle);
        mbusSlave_resetSuccessCounter(handle);
        mbusSlave_resetTotalCounter(handle);
        mbusSlave_destroyProtocol(handle);
    }
    EXPECT_TRUE(std::all_of(zeroed.begin(), zeroed.end(), [](auto word) { return word == 0; }));
    EXPECT_TRUE(std::all_of(patterned.begin(), patterned.end(),
                            [](auto word) { return word == 0xA5A5A5A5A5A5A5A5u; }));
    ProtocolHandle::operator delete(destroyed);
}

// The kind-specific functions serve the kinds they are made for; a handle
// of another kind gets the refusal, before any range check, and keeps its
// settings.
TEST(KindSpecificFunctions, ServeTheirKindsOnly) {
    const struct {
        const char* name;
        MbusSlaveHandle* (*create)();
        bool serial, rtu, ip, tcpFamily;
    } kinds[] = {
        {"rtu", mbusSlave_createRtuProtocol, true, true, false, false},
        {"ascii", mbusSlave_createAsciiProtocol, true, false, false, false},
        {"tcp", mbusSlave_createTcpProtocol, false, false, true, true},
        {"rtu over tcp", mbusSlave_createRtuOverTcpProtocol, false, false, true, true},
        {"udp", mbusSlave_createUdpProtocol, false, false, true, false},
    };
    auto served = [](bool kindServed) { return kindServed ? MB_OK : MB_ERR_ILLEGAL_STATE; };
    auto refusedOrRange = [](bool kindServed) {
        return kindServed ? MB_ERR_ILLEGAL_ARGUMENT : MB_ERR_ILLEGAL_STATE;
    };
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.name);
        HandlePtr handle(kind.create());
        ASSERT_NE(handle, nullptr);
        MbusSlaveHandle* h = handle.get();
        EXPECT_EQ(mbusSlave_enableRs485Mode(h, 5), served(kind.serial));
        EXPECT_EQ(mbusSlave_enableRs485Mode(h, 100001), refusedOrRange(kind.serial));
        EXPECT_EQ(mbusSlave_setFrameTolerance(h, 5), served(kind.rtu));
        EXPECT_EQ(mbusSlave_setFrameTolerance(h, 1000000), refusedOrRange(kind.rtu));
        EXPECT_EQ(mbusSlave_setPort(h, 1502), served(kind.ip));
        EXPECT_EQ(mbusSlave_getPort(h), kind.ip ? 1502 : 0);
        EXPECT_EQ(mbusSlave_setConnectionTimeOut(h, 7000), served(kind.tcpFamily));
        EXPECT_EQ(mbusSlave_getConnectionTimeOut(h), kind.tcpFamily ? 7000u : 0u);
        if (!kind.ip) {
            EXPECT_EQ(mbusSlave_startupIpServer(h, "127.0.0.1"), MB_ERR_ILLEGAL_STATE);
            EXPECT_EQ(mbusSlave_isStarted(h), 0);
        }
    }
}

TEST(Handle, FreshHandleDefaults) {
    HandlePtr handle = makeHandle();
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(mbusSlave_isStarted(handle.get()), 0);
    EXPECT_EQ(mbusSlave_getTimeout(handle.get()), 1000u);
    EXPECT_EQ(mbusSlave_getSuccessCounter(handle.get()), 0u);
    EXPECT_EQ(mbusSlave_getTotalCounter(handle.get()), 0u);
    EXPECT_EQ(mbusSlave_getConnectionStatus(handle.get()), 0);
    EXPECT_EQ(mbusSlave_serverLoop(handle.get()), MB_ERR_ILLEGAL_STATE);
    EXPECT_TRUE(protocolOfHandle(handle.get()).noDataTableConfigured());
}

TEST(Handle, SetTimeoutThroughTheInterface) {
    HandlePtr handle = makeHandle();
    EXPECT_EQ(mbusSlave_setTimeout(handle.get(), 100000), MB_OK);
    EXPECT_EQ(mbusSlave_setTimeout(handle.get(), 100001), MB_ERR_ILLEGAL_ARGUMENT);
    EXPECT_EQ(mbusSlave_setTimeout(handle.get(), static_cast<std::uint32_t>(-1)),
              MB_ERR_ILLEGAL_ARGUMENT);
    EXPECT_EQ(mbusSlave_getTimeout(handle.get()), 100000u);
}

TEST(Handle, ConfigureRefusesBadAddressesAndChangesNothing) {
    HandlePtr handle = makeHandle();
    for (int address : {256, -2, 1000, INT32_MIN}) {
        EXPECT_EQ(configure(handle.get(), address, readFirstSet), MB_ERR_ILLEGAL_ARGUMENT);
    }
    EXPECT_TRUE(protocolOfHandle(handle.get()).noDataTableConfigured());
}

// Reads one register through the table installed for the unit, as request
// processing would, and returns the value served.
std::uint16_t readRegister(MbusSlaveHandle* handle, std::uint8_t unit) {
    DataTable* table = protocolOfHandle(handle).dataTable(unit);
    if (table == nullptr) return 0;
    std::uint16_t value = 0;
    return table->readHoldingRegisters(1, &value, 1) ? value : 0;
}

// Runs one pass that serves a request to the unit.
void serveOne(MbusSlaveHandle* handle, std::uint8_t unit) {
    protocolOfHandle(handle).queue({unit, 3, 0, 0, 0, 1});
    EXPECT_EQ(mbusSlave_serverLoop(handle), MB_OK);
}

TEST(Handle, AllAddressesThenOneAddressUsesTheRightSet) {
    HandlePtr handle = makeHandle();
    ASSERT_EQ(configure(handle.get(), -1, readFirstSet), MB_OK);
    ASSERT_EQ(configure(handle.get(), 5, readSecondSet), MB_OK);
    ProtocolHandle& inner = *toHandle(handle.get());
    for (int address = 0; address < 256; ++address) {
        const CallbackDataTable* table = inner.configuredTable(address);
        ASSERT_NE(table, nullptr);
        ASSERT_EQ(inner.protocol->dataTable(address), table);
        const auto expected = address == 5 ? &readSecondSet : &readFirstSet;
        ASSERT_EQ(table->callbacks().readHoldingRegisters, expected);
    }
}

TEST(Handle, ReconfiguringReplacesEveryPointer) {
    HandlePtr handle = makeHandle();
    ASSERT_EQ(configure(handle.get(), 9, readFirstSet, countTimeOut), MB_OK);
    ASSERT_EQ(configure(handle.get(), 9, nullptr, nullptr), MB_OK);
    const Callbacks& callbacks = toHandle(handle.get())->callbackTable(9).callbacks();
    EXPECT_EQ(callbacks.readHoldingRegisters, nullptr);
    EXPECT_EQ(callbacks.signalTimeOut, nullptr);
}

TEST(Handle, ConfiguredCallbacksServeRequestsAndTimeOuts) {
    HandlePtr handle = makeHandle();
    TestProtocol& protocol = protocolOfHandle(handle.get());
    protocol.setTickSource(&test::FakeClock::tick);
    ASSERT_EQ(configure(handle.get(), 3, readSecondSet, countTimeOut), MB_OK);
    protocol.start();
    EXPECT_EQ(readRegister(handle.get(), 3), 0x2222);
    serveOne(handle.get(), 3);
    EXPECT_EQ(mbusSlave_getSuccessCounter(handle.get()), 1u);
    EXPECT_EQ(mbusSlave_getConnectionStatus(handle.get()), 1);
    timeOutCount = 0;
    test::FakeClock::advance(1000);
    ASSERT_EQ(mbusSlave_serverLoop(handle.get()), MB_OK);
    EXPECT_EQ(timeOutCount, 1);
    mbusSlave_shutdownServer(handle.get());
    EXPECT_EQ(mbusSlave_isStarted(handle.get()), 0);
    EXPECT_EQ(mbusSlave_getConnectionStatus(handle.get()), 0);
}

TEST(Handle, TwoHandlesAreIndependent) {
    HandlePtr first = makeHandle();
    HandlePtr second = makeHandle();
    ASSERT_EQ(configure(first.get(), 1, readFirstSet), MB_OK);
    ASSERT_EQ(configure(second.get(), 1, readSecondSet), MB_OK);
    ASSERT_EQ(mbusSlave_setTimeout(second.get(), 50), MB_OK);
    protocolOfHandle(first.get()).start();
    protocolOfHandle(second.get()).start();
    EXPECT_EQ(readRegister(first.get(), 1), 0x1111);
    EXPECT_EQ(readRegister(second.get(), 1), 0x2222);
    serveOne(first.get(), 1);
    serveOne(second.get(), 1);
    serveOne(second.get(), 1);
    EXPECT_EQ(mbusSlave_getSuccessCounter(first.get()), 1u);
    EXPECT_EQ(mbusSlave_getSuccessCounter(second.get()), 2u);
    EXPECT_EQ(mbusSlave_getTimeout(first.get()), 1000u);
    mbusSlave_resetSuccessCounter(second.get());
    EXPECT_EQ(mbusSlave_getSuccessCounter(first.get()), 1u);
}

TEST(Handle, ExceptionReplyPolicyIsForwarded) {
    HandlePtr handle = makeHandle();
    mbusSlave_disableExceptionReplies(handle.get());
    EXPECT_FALSE(protocolOfHandle(handle.get()).exceptionRepliesEnabled());
    mbusSlave_enableExceptionReplies(handle.get());
    EXPECT_TRUE(protocolOfHandle(handle.get()).exceptionRepliesEnabled());
}

// Destruction runs the protocol's destructor before the callback tables go.
class DestructionProbe : public TestProtocol {
public:
    ~DestructionProbe() override {
        // The tables are still alive: touching them must be valid (ASan
        // reports a use after free otherwise).
        tableStillAlive = dataTable(1) != nullptr && dataTable(1)->requestInfo == nullptr;
    }
    static inline bool tableStillAlive = false;
};

TEST(Handle, ProtocolIsDestroyedBeforeTheCallbackTables) {
    MbusSlaveHandle* handle = toOpaque(createHandle<DestructionProbe>());
    ASSERT_EQ(configure(handle, 1, readFirstSet), MB_OK);
    DestructionProbe::tableStillAlive = false;
    mbusSlave_destroyProtocol(handle);
    EXPECT_TRUE(DestructionProbe::tableStillAlive);
}

TEST(CHeader, UsableFromC) {
    HandlePtr handle = makeHandle();
    EXPECT_EQ(mbslaveCHeaderConfigure(handle.get(), 2), MB_OK);
    EXPECT_EQ(mbslaveCHeaderConfigure(handle.get(), 256), MB_ERR_ILLEGAL_ARGUMENT);
    EXPECT_EQ(mbslaveCHeaderRequestInfoSize(), sizeof(RequestInfo));
}

TEST(RequestInfoLayout, FieldOrderAndWidths) {
    EXPECT_EQ(offsetof(RequestInfo, protocolType), 0u);
    EXPECT_EQ(offsetof(RequestInfo, slaveAddress), 4u);
    EXPECT_EQ(offsetof(RequestInfo, peerName), 8u);
    EXPECT_EQ(offsetof(RequestInfo, transactionId), 8u + sizeof(void*));
    EXPECT_EQ(sizeof(RequestInfo::transactionId), 2u);
}

}  // namespace
}  // namespace mbslave

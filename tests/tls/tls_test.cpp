// Modbus/TCP Security through libmbslave-tls's C interface, on loopback,
// with the throwaway PKI of tools/make-test-pki.sh (directory in
// MBSLAVE_TEST_PKI): who the handshake lets in and with which role, the
// authorization of each request, set-up errors, the stream path inside TLS,
// and the handshake time-out against half-open handshakes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mbslave_tls.h"
#include "support/handle_ptr.hpp"
#include "support/loopback_client.hpp"
#include "support/mbap.hpp"
#include "tls/tls_master.hpp"

namespace mbslave::test {
namespace {

// What the server's callbacks saw.
struct Observed {
    int reads = 0;
    int writes = 0;
    int accepts = 0;
    int closes = 0;
    int authorizations = 0;
    std::string role;  // "(null)" for a null role
    int protocolType = -1;
    int authorizedFunction = -1;
    int authorizedPduLength = -1;
};
Observed observed;

std::string roleText(const char* role) { return role == nullptr ? "(null)" : role; }

int readHolding(int startRef, std::uint16_t regArr[], int refCnt, const RequestInfo* info) {
    ++observed.reads;
    observed.role = roleText(mbusSlave_getTlsRole(info));
    observed.protocolType = info->protocolType;
    for (int i = 0; i < refCnt; ++i) regArr[i] = static_cast<std::uint16_t>(startRef + i);
    return 1;
}

int writeHolding(int, const std::uint16_t[], int, const RequestInfo* info) {
    ++observed.writes;
    observed.role = roleText(mbusSlave_getTlsRole(info));
    return 1;
}

int acceptMaster(const char*) { return ++observed.accepts, 1; }
void closeMaster(const char*) { ++observed.closes; }

// Data callbacks get 1-based references. "operator" may do everything, "monitor" only read (function codes 1-4),
// a master without role nothing.
int authorizeByRole(const char* role, int functionCode, const std::uint8_t pdu[], int pduLength,
                    const RequestInfo* info) {
    ++observed.authorizations;
    observed.authorizedFunction = pdu[0] == functionCode && info != nullptr ? functionCode : -2;
    observed.authorizedPduLength = pduLength;
    if (role == nullptr) return 0;
    if (std::strcmp(role, "operator") == 0) return 1;
    return std::strcmp(role, "monitor") == 0 && functionCode >= 1 && functionCode <= 4;
}

std::string pkiDir() {
    const char* dir = std::getenv("MBSLAVE_TEST_PKI");
    return dir != nullptr ? dir : "";
}
std::string pkiFile(const char* name) { return pkiDir() + "/" + name; }

const std::vector<std::uint8_t> kReadTwo{0x03, 0x00, 0x10, 0x00, 0x02};
const std::vector<std::uint8_t> kWriteOne{0x06, 0x00, 0x05, 0x12, 0x34};

class TlsServer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(pkiDir().empty()) << "MBSLAVE_TEST_PKI names the test PKI";
        observed = Observed{};
        handle.reset(mbusSlave_createTlsProtocol());
        ASSERT_NE(handle, nullptr);
        ASSERT_EQ(mbusSlave_setTlsCertificate(handle.get(), pkiFile("server.pem").c_str(),
                                              pkiFile("server.key").c_str()), MB_OK);
        ASSERT_EQ(mbusSlave_setTlsCaFile(handle.get(), pkiFile("ca.pem").c_str()), MB_OK);
        ASSERT_EQ(mbusSlave_configureCallbacks(handle.get(), 1, readHolding, writeHolding, nullptr, nullptr,
                                               nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                               nullptr, nullptr, nullptr, nullptr), MB_OK);
        mbusSlave_configureTcpNotifications(handle.get(), acceptMaster, closeMaster, nullptr);
        ASSERT_EQ(mbusSlave_setTimeout(handle.get(), 100), MB_OK);
    }

    void start() {
        // A port of this process's own range; the next one if it is taken.
        for (int attempt = 0; attempt < 50; ++attempt) {
            port = static_cast<std::uint16_t>(21000 + (getpid() * 7 + attempt) % 20000);
            ASSERT_EQ(mbusSlave_setPort(handle.get(), port), MB_OK);
            const int result = mbusSlave_startupIpServer(handle.get(), "127.0.0.1");
            if (result == MB_OK) return;
            ASSERT_EQ(result, MB_ERR_TCP_PORT_BOUND);
        }
        FAIL() << "no free port";
    }

    std::function<void()> pass() {
        return [this] { mbusSlave_serverLoop(handle.get()); };
    }

    // Sends one request in its own record; the reply body (unit and PDU) or
    // nothing.
    std::vector<std::uint8_t> request(TlsMaster& master, std::uint16_t transaction,
                                      const std::vector<std::uint8_t>& pdu) {
        if (!master.write(mbapFrame(transaction, 1, pdu))) return {};
        const std::vector<std::uint8_t> header = master.read(6, pass());
        if (header.size() != 6 || ((header[0] << 8) | header[1]) != transaction) return {};
        return master.read(static_cast<std::size_t>((header[4] << 8) | header[5]), pass());
    }

    HandlePtr handle;
    std::uint16_t port = 0;
};

// Who gets in, with which role: every refusal happens in the handshake,
// closes the connection with a close notification and reaches no callback.
TEST_F(TlsServer, HandshakeAdmitsOnlyValidMastersOfTheTrustedCaWithTheirRole) {
    struct Row {
        const char* certificate;  // "" : none
        int maxVersion;
        bool admitted;
        const char* role;
    };
    const Row rows[] = {
        {"operator", 0, true, "operator"},
        {"monitor", TLS1_2_VERSION, true, "monitor"},
        {"norole", 0, true, "(null)"},
        {"badrole", 0, true, "(null)"},
        {"", 0, false, nullptr},
        {"expired", 0, false, nullptr},
        {"foreign", 0, false, nullptr},
        {"operator", TLS1_1_VERSION, false, nullptr},
    };
    start();
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.certificate) + " max version " + std::to_string(row.maxVersion));
        // The master of the row before has gone.
        for (int attempt = 0; attempt < 20 && observed.closes < observed.accepts; ++attempt) {
            mbusSlave_serverLoop(handle.get());
        }
        const int closes = observed.closes;
        observed.reads = observed.writes = 0;
        observed.role.clear();
        TlsMaster master(pkiDir(), row.certificate, row.maxVersion);
        ASSERT_TRUE(master.connect(port));
        master.handshake(pass());
        const std::vector<std::uint8_t> reply = request(master, 7, kReadTwo);
        if (row.admitted) {
            EXPECT_EQ(reply, (std::vector<std::uint8_t>{1, 0x03, 4, 0x00, 0x11, 0x00, 0x12}));
            EXPECT_EQ(request(master, 8, kWriteOne), (std::vector<std::uint8_t>{1, 0x06, 0x00, 0x05, 0x12, 0x34}));
            EXPECT_EQ(observed.reads, 1);
            EXPECT_EQ(observed.writes, 1);
            EXPECT_EQ(observed.role, row.role);
            EXPECT_EQ(observed.protocolType, MB_PROTOCOL_TLS);
        } else {
            EXPECT_TRUE(reply.empty());
            EXPECT_TRUE(master.read(1, pass()).empty());
            EXPECT_TRUE(master.ended());
            EXPECT_EQ(observed.reads, 0);
            EXPECT_EQ(observed.closes, closes + 1);
        }
    }
    EXPECT_EQ(observed.accepts, static_cast<int>(std::size(rows)));
}

// A request the role may not make gets exception 1 and reaches no data
// callback; the callback sees the function code and the PDU.
TEST_F(TlsServer, AuthorizationRefusalIsExceptionOneWithoutDataCallback) {
    struct Row {
        const char* certificate;
        std::vector<std::uint8_t> pdu;
        std::vector<std::uint8_t> reply;
        int reads, writes;
    };
    const Row rows[] = {
        {"operator", kWriteOne, {1, 0x06, 0x00, 0x05, 0x12, 0x34}, 0, 1},
        {"monitor", kReadTwo, {1, 0x03, 4, 0x00, 0x11, 0x00, 0x12}, 1, 0},
        {"monitor", kWriteOne, {1, 0x86, 0x01}, 0, 0},
        {"norole", kReadTwo, {1, 0x83, 0x01}, 0, 0},
    };
    mbusSlave_configureTlsAuthorization(handle.get(), authorizeByRole);
    start();
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.certificate) + " function " + std::to_string(row.pdu[0]));
        observed.reads = observed.writes = 0;
        TlsMaster master(pkiDir(), row.certificate);
        ASSERT_TRUE(master.connect(port));
        ASSERT_TRUE(master.handshake(pass()));
        EXPECT_EQ(request(master, 3, row.pdu), row.reply);
        EXPECT_EQ(observed.reads, row.reads);
        EXPECT_EQ(observed.writes, row.writes);
        EXPECT_EQ(observed.authorizedFunction, row.pdu[0]);
        EXPECT_EQ(observed.authorizedPduLength, static_cast<int>(row.pdu.size()));
    }
    EXPECT_EQ(observed.authorizations, static_cast<int>(std::size(rows)));
}

// A master may resume its session, with both protocol versions, and keeps
// its role.
TEST_F(TlsServer, ResumedSessionKeepsItsRole) {
    start();
    for (const int version : {TLS1_3_VERSION, TLS1_2_VERSION}) {
        SCOPED_TRACE(version);
        TlsMaster first(pkiDir(), "monitor", version);
        ASSERT_TRUE(first.connect(port));
        ASSERT_TRUE(first.handshake(pass()));
        ASSERT_EQ(request(first, 1, kReadTwo).size(), 7u);
        SSL_SESSION* session = first.takeSession();
        ASSERT_NE(session, nullptr);
        observed.role.clear();
        TlsMaster again(pkiDir(), "monitor", version);
        ASSERT_TRUE(again.connect(port, session));
        SSL_SESSION_free(session);
        ASSERT_TRUE(again.handshake(pass()));
        EXPECT_EQ(request(again, 2, kReadTwo).size(), 7u);
        EXPECT_TRUE(again.resumed());
        EXPECT_EQ(observed.role, "monitor");
    }
}

// A plain Modbus/TCP master gets no Modbus reply: at most TLS's alert, then
// the end of the connection.
TEST_F(TlsServer, PlainModbusTcpMasterIsClosedWithoutReply) {
    start();
    LoopbackClient master;
    ASSERT_TRUE(master.connect(port));
    ASSERT_TRUE(master.send(mbapFrame(1, 1, kReadTwo)));
    std::vector<std::uint8_t> received;
    bool closed = false;
    for (int attempt = 0; attempt < 20 && !closed; ++attempt) {
        mbusSlave_serverLoop(handle.get());
        std::uint8_t chunk[256];
        if (!test::waitReadable(master.descriptor(), 50)) continue;
        const long got = receiveBytes(master.descriptor(), chunk, sizeof chunk);
        if (got <= 0) {
            closed = true;
        } else {
            received.insert(received.end(), chunk, chunk + got);
        }
    }
    EXPECT_TRUE(closed);
    if (!received.empty()) {
        EXPECT_EQ(received[0], 0x15) << "only a TLS alert record";
    }
    EXPECT_EQ(observed.reads, 0);
    EXPECT_EQ(observed.accepts, 1);
    EXPECT_EQ(observed.closes, 1);
}

// TLS records have nothing to do with requests: a request in two records,
// 30 requests in one record (more than one read of the stream takes), and
// requests in records sent one after the other are all served.
TEST_F(TlsServer, RequestsSplitOrBundledInRecordsAreServed) {
    start();
    TlsMaster master(pkiDir(), "operator");
    ASSERT_TRUE(master.connect(port));
    ASSERT_TRUE(master.handshake(pass()));

    const std::vector<std::uint8_t> frame = mbapFrame(41, 1, kReadTwo);
    ASSERT_TRUE(master.write({frame.begin(), frame.begin() + 4}));
    mbusSlave_serverLoop(handle.get());
    ASSERT_TRUE(master.write({frame.begin() + 4, frame.end()}));
    const std::vector<std::uint8_t> expected{0, 41, 0, 0, 0, 7, 1, 0x03, 4, 0x00, 0x11, 0x00, 0x12};
    EXPECT_EQ(master.read(expected.size(), pass()), expected);

    constexpr int kBundled = 30;
    std::vector<std::uint8_t> bundle;
    for (int transaction = 0; transaction < kBundled; ++transaction) {
        for (const std::uint8_t byte : mbapFrame(static_cast<std::uint16_t>(100 + transaction), 1, kReadTwo)) {
            bundle.push_back(byte);
        }
    }
    ASSERT_TRUE(master.write(bundle));
    const std::vector<std::uint8_t> replies = master.read(kBundled * expected.size(), pass(), kBundled * 2);
    ASSERT_EQ(replies.size(), kBundled * expected.size());
    for (int transaction = 0; transaction < kBundled; ++transaction) {
        EXPECT_EQ(replies[transaction * expected.size() + 1], 100 + transaction);
    }
    EXPECT_EQ(observed.reads, kBundled + 1);

    // Requests in records of their own, sent before the server reads: it
    // reads them at once and must not leave the later ones unseen.
    for (int round = 0; round < 2; ++round) {
        for (std::uint16_t transaction = 51; transaction <= 53; ++transaction) {
            ASSERT_TRUE(master.write(mbapFrame(transaction, 1, kReadTwo)));
        }
        const std::vector<std::uint8_t> three = master.read(3 * expected.size(), pass());
        ASSERT_EQ(three.size(), 3 * expected.size());
        EXPECT_EQ(three[2 * expected.size() + 1], 53);
    }
    EXPECT_EQ(observed.reads, kBundled + 7);
}

// 32 connections that never finish their handshake hold every place until
// the handshake time-out (10 s with connection time-out 0) closes them, also
// when nothing else ends a pass's wait; then a 33rd master gets in and is
// served.
TEST_F(TlsServer, HalfOpenHandshakesAreClosedByTheHandshakeTimeOut) {
    start();
    std::vector<LoopbackClient> halfOpen(32);
    for (std::size_t i = 0; i < halfOpen.size(); ++i) {
        // One at a time: the listen backlog is short.
        ASSERT_TRUE(halfOpen[i].connect(port));
        // Half of them start a ClientHello record and stop.
        if (i % 2 == 0) {
            ASSERT_TRUE(halfOpen[i].send({0x16, 0x03, 0x01, 0x01}));
        }
        for (int attempt = 0; attempt < 20 && observed.accepts <= static_cast<int>(i); ++attempt) {
            mbusSlave_serverLoop(handle.get());
        }
    }
    ASSERT_EQ(observed.accepts, 32);

    TlsMaster late(pkiDir(), "operator");
    ASSERT_TRUE(late.connect(port));
    // Not yet: every place is taken.
    EXPECT_FALSE(late.handshake(pass(), 5));
    EXPECT_EQ(observed.accepts, 32);
    // Without protocol time-out a pass waits until the earliest handshake
    // deadline at most (no master sends anything).
    ASSERT_EQ(mbusSlave_setTimeout(handle.get(), 0), MB_OK);
    for (int attempt = 0; attempt < 150 && observed.closes < 32; ++attempt) mbusSlave_serverLoop(handle.get());
    EXPECT_EQ(observed.closes, 32);
    for (LoopbackClient& master : halfOpen) EXPECT_TRUE(master.closedByPeer(1000));
    ASSERT_TRUE(late.handshake(pass()));
    EXPECT_EQ(request(late, 9, kReadTwo), (std::vector<std::uint8_t>{1, 0x03, 4, 0x00, 0x11, 0x00, 0x12}));
}

// Set-up errors and their texts; the certificate, key and CA are refused
// while the server runs.
TEST(TlsSetUp, FilesAreCheckedAndRefusedWhileStarted) {
    HandlePtr handle(mbusSlave_createTlsProtocol());
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(mbusSlave_getPort(handle.get()), MB_TLS_DEFAULT_PORT);
    MbusSlaveHandle* h = handle.get();
    const std::string missing = pkiFile("missing.pem");
    EXPECT_EQ(mbusSlave_startupIpServer(h, "127.0.0.1"), MB_ERR_TLS_NO_CERTIFICATE);
    struct Row {
        int result;
        int expected;
    };
    const Row rows[] = {
        {mbusSlave_setTlsCertificate(h, missing.c_str(), pkiFile("server.key").c_str()), MB_ERR_TLS_CERTIFICATE_FILE},
        {mbusSlave_setTlsCertificate(h, pkiFile("server.pem").c_str(), missing.c_str()), MB_ERR_TLS_KEY_FILE},
        {mbusSlave_setTlsCertificate(h, pkiFile("server.pem").c_str(), pkiFile("ca.pem").c_str()), MB_ERR_TLS_KEY_FILE},
        {mbusSlave_setTlsCertificate(h, pkiFile("server.pem").c_str(), pkiFile("operator.key").c_str()),
         MB_ERR_TLS_KEY_MISMATCH},
        {mbusSlave_startupIpServer(h, "127.0.0.1"), MB_ERR_TLS_NO_CERTIFICATE},
        {mbusSlave_setTlsCertificate(h, nullptr, pkiFile("server.key").c_str()), MB_ERR_ILLEGAL_ARGUMENT},
        {mbusSlave_setTlsCertificate(h, pkiFile("server.pem").c_str(), pkiFile("server.key").c_str()), MB_OK},
        {mbusSlave_startupIpServer(h, "127.0.0.1"), MB_ERR_TLS_NO_CA},
        {mbusSlave_setTlsCaFile(h, missing.c_str()), MB_ERR_TLS_CA_FILE},
        {mbusSlave_setTlsCaFile(h, pkiFile("server.key").c_str()), MB_ERR_TLS_CA_FILE},
        {mbusSlave_startupIpServer(h, "127.0.0.1"), MB_ERR_TLS_NO_CA},
        {mbusSlave_setTlsCaFile(h, pkiFile("ca.pem").c_str()), MB_OK},
        {mbusSlave_setPort(h, 0), MB_OK},
        {mbusSlave_startupIpServer(h, "127.0.0.1"), MB_OK},
        {mbusSlave_setTlsCertificate(h, pkiFile("server.pem").c_str(), pkiFile("server.key").c_str()),
         MB_ERR_ILLEGAL_STATE},
        {mbusSlave_setTlsCaFile(h, pkiFile("ca.pem").c_str()), MB_ERR_ILLEGAL_STATE},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        EXPECT_EQ(rows[i].result, rows[i].expected) << "row " << i;
    }

    const std::u16string unknown(reinterpret_cast<const char16_t*>(mbusSlave_getErrorText(0x5F)));
    for (int code = MB_ERR_TLS_LIBRARY; code <= MB_ERR_TLS_CA_FILE; ++code) {
        const std::u16string text(reinterpret_cast<const char16_t*>(mbusSlave_getErrorText(code)));
        EXPECT_NE(text, unknown) << code;
        EXPECT_NE(text.find(u"TLS"), std::u16string::npos) << code;
    }
    // The functions of the TLS kind refuse other kinds; other kinds have no role.
    HandlePtr tcp(mbusSlave_createTcpProtocol());
    EXPECT_EQ(mbusSlave_setTlsCaFile(tcp.get(), pkiFile("ca.pem").c_str()), MB_ERR_ILLEGAL_STATE);
    EXPECT_EQ(mbusSlave_setTlsCertificate(tcp.get(), "a", "b"), MB_ERR_ILLEGAL_STATE);
    EXPECT_EQ(mbusSlave_getTlsRole(nullptr), nullptr);
}

}  // namespace
}  // namespace mbslave::test
